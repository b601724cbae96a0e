// Version-up: raises MajorVer/MinorVer of the ticked projects' project files.
#include "pipeline/versionup.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/profile.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace rh {

QString GetStringFromByte(qsizetype first, qsizetype last, const QByteArray& bytes)
{
    if (first > last || first < 0 || last >= bytes.size())
        return QString();
    QString out;
    out.reserve(last - first + 1);
    for (qsizetype i = first; i <= last; ++i)
        out += fromAnsi(bytes.constData() + i, 1);
    return out;
}

namespace {

double versionNumber(const QString& major, const QString& minor)
{
    return (major + QLatin1Char('.') + minor).toDouble();
}

// Format(x, "#.00"): no leading zero, two decimals, half away from zero.
QString formatHashDot00(double x)
{
    const double cents = std::round(x * 100.0 + (x >= 0 ? 1e-9 : -1e-9));
    const long long whole = static_cast<long long>(cents) / 100;
    const long long frac = std::llabs(static_cast<long long>(cents) % 100);
    const QString w = whole == 0 ? QString() : QString::number(whole);
    return w + QLatin1Char('.') + QStringLiteral("%1").arg(frac, 2, 10, QLatin1Char('0'));
}

} // namespace

QString currentVersionText(const QString& oldMajor, const QString& oldMinor)
{
    return QString::number(versionNumber(oldMajor, oldMinor), 'g', 15);
}

NewVersion computeNewVersion(const QString& oldMajor, const QString& oldMinor, const QDate& today)
{
    NewVersion v;
    if (oldMinor.size() == 3) {
        const QDate month = today.day() < 15 ? today : today.addDays(20);
        const QString newMinor = month.toString(QStringLiteral("yyMM")).right(3);
        if (newMinor == oldMinor) {
            v.sameMonth = true;
            return v;
        }
        v.text = oldMajor + QLatin1Char('.') + newMinor;
        return v;
    }
    const double current = versionNumber(oldMajor, oldMinor);
    QString text = formatHashDot00(current + 0.01);
    if (text.right(2) == QLatin1String("00"))
        text = formatHashDot00(current + 0.12);
    v.text = text;
    return v;
}

void Desk::cmdVerUp_Click()
{
    if (!interaction().askYesNo(QStringLiteral("현재 선택한 모든 프로젝트에 대해 정말 버전업을 할까요?"), appTitle(),
                                MsgIcon::Question, true))
        return;
    txtLog.clear();
    Q_EMIT logCleared();
    const QDate today = now().date();
    for (int row = 1; row <= grid.maxRows(); ++row) {
        if (!isTicked(row))
            continue;
        const QString name = grid.text(ColProjectName, row);
        if (!IniPath.isEmpty()) {
            const QString last = GetIni(grid.text(ColSectionKey, row), inikey::lastVersionUp(), QString());
            const QDate when = QDate::fromString(last.left(10), QStringLiteral("yyyy-MM-dd"));
            if (when.isValid() && when.daysTo(today) < 20) {
                const QString q = name + QStringLiteral("은 최근(20일이내)에 버전업을 했습니다.(") + last
                    + QStringLiteral(")\r\n그래도, 버전업을 하시겠습니까?");
                if (!interaction().askYesNo(q, appTitle(), MsgIcon::Question, true)) {
                    AddLog(name + QStringLiteral(" : 버전업 생략"));
                    continue;
                }
            }
        }
        AddLog(name + QStringLiteral(" : 버전업중..."));
        if (!ProcVerUp(row))
            AddLog(QStringLiteral("  ! 버전업 실패"));
    }
}

bool Desk::ProcVerUp(int row)
{
    const QString name = grid.text(ColProjectName, row);
    auto fail = [](int number) {
        tell(formErrorText(number, standardErrorDescription(number), QStringLiteral("ProcVerUp")));
        return false;
    };
    const QString vbp = grid.text(ColVbpPath, row);
    QString mapError;
    const QString native = nativePath(vbp, &mapError);
    if (native.isEmpty())
        return fail(err::PathNotFound);
    QFile file(native);
    if (!QFileInfo(native).isFile())
        return fail(err::FileNotFound);
    if (!file.open(QIODevice::ReadOnly))
        return fail(err::PermissionDenied);
    QByteArray bytes = file.readAll();
    file.close();

    QString oldMajor, oldMinor;
    qsizetype majorPos = 0, minorPos = 0; // 0-based positions of the values
    qsizetype lineStart = 0, lastEq = -1;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '=') {
            lastEq = i;
        } else if (c == '\n') {
            if (lastEq >= lineStart && lastEq - lineStart == 8) {
                const QByteArray key = bytes.mid(lineStart, 8);
                if (key == "MajorVer") {
                    oldMajor = GetStringFromByte(lastEq + 1, i - 2, bytes);
                    majorPos = lastEq + 1;
                } else if (key == "MinorVer") {
                    oldMinor = GetStringFromByte(lastEq + 1, i - 2, bytes);
                    minorPos = lastEq + 1;
                }
            }
            lineStart = i + 1;
        }
    }
    if (oldMajor.isEmpty() || oldMinor.isEmpty()) {
        tell(QStringLiteral("[") + name + QStringLiteral("]의 현재버전을 구할수 없습니다."));
        return false;
    }
    AddLog(QStringLiteral("  현재버전: ") + currentVersionText(oldMajor, oldMinor));

    const NewVersion nv = computeNewVersion(oldMajor, oldMinor, now().date());
    if (nv.sameMonth) {
        tell(QStringLiteral("[") + name + QStringLiteral("]의 신/구버전이 동일합니다.(동일월)"));
        return false;
    }
    const qsizetype dot = nv.text.indexOf(QLatin1Char('.'));
    if (dot < 0) {
        tell(QStringLiteral("[") + name + QStringLiteral("]의 새버전을 구할수 없습니다."));
        return false;
    }
    const QString newMajor = nv.text.left(dot);
    const QString newMinor = nv.text.mid(dot + 1);
    AddLog(QStringLiteral("  신규버전: ") + newMajor + QLatin1Char('.') + newMinor);
    if (newMajor.size() != oldMajor.size() || newMinor.size() != oldMinor.size()) {
        tell(QStringLiteral("[") + name + QStringLiteral("]의 신/구버전의 길이가 달라 처리할 수 없습니다."));
        return false;
    }

    // Same bytes at the same places, written to a temporary file and renamed
    // over the project file, so a crash never leaves it torn.
    QByteArray updated = bytes;
    if (newMajor != oldMajor)
        updated.replace(majorPos, newMajor.size(), newMajor.toLatin1());
    updated.replace(minorPos, newMinor.size(), newMinor.toLatin1());
    QString writeError;
    if (!writeFileAtomically(native, updated, &writeError))
        return fail(err::PermissionDenied);

    if (!IniPath.isEmpty()) {
        const QString record = now().date().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" : ver ")
            + oldMajor + QLatin1Char('.') + oldMinor + QStringLiteral(" -> ") + newMajor + QLatin1Char('.') + newMinor;
        WritePrivateProfileText(grid.text(ColSectionKey, row), inikey::lastVersionUp(), record, IniPath);
    }
    return true;
}

} // namespace rh
