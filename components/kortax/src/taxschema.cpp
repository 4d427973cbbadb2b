#include "kortax/kortax.h"

#include "taxschema.h"

namespace KorTAX {

mox::Status createTaxSchema(const KorDAO::DatabaseHandle &db) {
    (void)db;
    return mox::Status::success();
}

} // namespace KorTAX
