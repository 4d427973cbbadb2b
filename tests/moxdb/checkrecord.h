#pragma once

// A bonus record the check has nothing to say about: full enrollment periods, the standard tax
// method and cash to pay. Tests change one field of it to provoke one reason.
#include "moxdb/bonuscheck.h"

inline moxdb::CheckRecord plainCheckRecord(int code = 0)
{
    moxdb::CheckRecord r;
    r.syokcd = code;
    r.kyukbn = 1;
    r.kmmmdd = 600;
    r.kbmmdd = 600;
    r.kmzrit = Currency::fromYen(100);
    r.kbzrit = Currency::fromYen(100);
    r.kimatu = Currency::fromYen(500000);
    r.kinben = Currency::fromYen(300000);
    r.syotok = Currency::fromYen(30000);
    r.zenkaz = Currency::fromYen(300000);
    r.ssikyu = Currency::fromYen(800000);
    r.kougok = Currency::fromYen(30000);
    r.sasihk = Currency::fromYen(770000);
    return r;
}
