#include "moxdb/init.h"

namespace moxdb {

namespace {

std::vector<InitStep>& registry()
{
    static std::vector<InitStep> steps;
    return steps;
}

} // namespace

void addInitStep(const InitStep& step)
{
    registry().push_back(step);
}

const std::vector<InitStep>& initSteps()
{
    return registry();
}

} // namespace moxdb
