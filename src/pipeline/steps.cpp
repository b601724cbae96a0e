#include "pipeline/steps.h"

#include "pipeline/codesigning.h"
#include "pipeline/desk.h"
#include "pipeline/distribution.h"
#include "pipeline/pendingrecords.h"
#include "pipeline/runcompile.h"
#include "pipeline/setupbuild.h"
#include "pipeline/workdiary.h"

#include <QFile>

namespace rh {

void attachSteps(Desk& desk)
{
    desk.steps.step1_1 = [&desk] { return Step1_1(desk); };
    desk.steps.step1_2 = [&desk] { return Step1_2(desk); };
    desk.steps.codeSigning = [&desk](int firstCol, int secondCol) {
        return CodeSigning(desk, firstCol, secondCol);
    };
    desk.signingPollMs = signingPollMsFromSite();
    desk.steps.step2 = [&desk] { return STEP2(desk); };
    desk.steps.step3 = [&desk] { return Step3(desk); };
    desk.steps.sendPending = [&desk] {
        if (QFile::exists(pendingRecordsPath()))
            SendPendingRecords(desk);
    };
    attachDatabaseSession(desk);
}

} // namespace rh
