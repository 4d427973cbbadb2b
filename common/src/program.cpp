#include "mox/program.h"

namespace mox {
namespace {

QString& currentId()
{
    static QString id;
    return id;
}

} // namespace

void setProgramId(const QString& id)
{
    currentId() = id;
}

const QString& programId()
{
    return currentId();
}

bool isProgram(QStringView id)
{
    return currentId().compare(id, Qt::CaseInsensitive) == 0;
}

} // namespace mox
