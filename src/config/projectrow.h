#pragma once
// The 22 columns of a project row, numbered from 1 as the steps address them.
#include <QString>

namespace rh {

enum ProjectCol : int {
    ColSelected = 1,
    ColProjectName = 2,
    ColFileVersion = 3,
    ColStatus = 4,
    ColProjectType = 5,
    ColSectionKey = 6,
    ColVbpPath = 7,
    ColExePath = 8,
    ColSetupBuilderKind = 9,
    ColISProject1 = 10,
    ColISProject2 = 11,
    ColISResult1 = 12,
    ColISResult2 = 13,
    ColISResult1File = 14,
    ColISResult2File = 15,
    ColSetupFileTime = 16,
    ColPatchResultPath = 17,
    ColPatchResultFile = 18,
    ColWorkDiaryCode = 19, // 업무일지CODE
    ColWebCode = 20,       // 웹게시CODE
    ColOfficialPath = 21,  // 정식버전경로
    ColLocalCopyPath = 22,
    ProjectColCount = 22
};

// Header text the grid shows for a column (1-based); "" outside 1..22.
QString projectColumnHeader(int col);

// Setup INI key names that are Korean; their bytes must match in CP949.
namespace inikey {
inline QString workDiaryId() { return QStringLiteral("업무일지ID"); }
inline QString workDiaryCode() { return QStringLiteral("업무일지CODE"); }
inline QString webCode() { return QStringLiteral("웹게시CODE"); }
inline QString officialPath() { return QStringLiteral("정식버전경로"); }
inline QString lastVersionUp() { return QStringLiteral("최종버전업"); }
} // namespace inikey

} // namespace rh
