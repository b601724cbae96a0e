#include "pipeline/steps.h"

#include "pipeline/desk.h"

namespace rh {

void attachSteps(Desk& desk)
{
    (void)desk;
}

} // namespace rh
