#include "config/projectrow.h"

#include <array>

namespace rh {

QString projectColumnHeader(int col)
{
    static const std::array<const char*, ProjectColCount> headers = {
        "선택", "프로젝트명", "버전", "진행상태", "PT", "PROJECT ID", "vbp경로", "exe경로",
        "셋업구분", "셋업 프로젝트 경로 - 1", "셋업 프로젝트 경로 - 2", "셋업 결과파일 경로 - 1",
        "셋업 결과파일 경로 - 2", "인스톨결과파일명1", "인스톨결과파일명2", "실행파일날자",
        "패치파일경로", "패치파일명", "업무일지CODE", "웹게시CODE", "정식버전경로", "변경셋업파일명"};
    if (col < 1 || col > ProjectColCount)
        return QString();
    return QString::fromUtf8(headers[size_t(col - 1)]);
}

} // namespace rh
