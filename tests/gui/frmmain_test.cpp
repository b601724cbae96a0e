// The window over a real desk in a sandbox program folder: widgets found by
// name, driven with synthetic mouse and key events, checked against the desk.
#include "app/runhistory.h"
#include "config/projectrow.h"
#include "ftp_fixture.h"
#include "pipeline/desk.h"
#include "pipeline/ftptransfer.h"
#include "platform/profile.h"
#include "sandbox.h"
#include "testinteraction.h"
#include "ui/frmhistory.h"
#include "ui/frmmain.h"
#include "ui/guimain.h"
#include "ui/projectmodel.h"
#include "ui/projectview.h"
#include "ui/qtinteraction.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

const char* kSetup = R"([General]
ProjGrop1=회계;Project1,Project3
ProjGrop2=급여;Project2,Project4
ProjGrop3=빈그룹;
RecentProjects=;2

[Distribute]
Path1=FTP 다운로드
Path2=\\fileserver\프로그램셋업\1_정식버전
Path3=C:\deploy

[Distribute_Beta]
Path1=C:\beta

[Project]
ProjectCount=5
Project1=원장관리
Project2=급여관리
Project3=인사관리
Project4=재고관리
Project5=세무신고

[Project1]
ISResult1=D:\out\ledger_setup_2.exe
[Project2]
ISProject1=D:\setup\pay.ism
ISResult1=D:\out\pay_setup_2.exe
[Project3]
ISResult1=D:\out\hr_setup_2.exe
[Project4]
ISResult1=D:\out\stock_setup_2.exe
[Project5]
ISResult1=D:\out\tax_setup_2.exe
)";

const char* kSmall = R"([General]
ProjGrop1=전부;Project1,Project2
RecentProjects=;1

[Project]
ProjectCount=2
Project1=전자결재
Project2=메신저

[Project1]
ISResult1=D:\out\sign_setup_2.exe
[Project2]
ISResult1=D:\out\msg_setup_2.exe
)";

const QColor kTicked(254, 254, 186);
const QColor kWhite(255, 255, 255);

// --- synthetic input -------------------------------------------------------

void mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::KeyboardModifiers mods = {})
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, held, mods);
    QApplication::sendEvent(w, &e);
}

void click(QWidget* w, QPoint pos, Qt::KeyboardModifiers mods = {})
{
    mouse(w, QEvent::MouseButtonPress, pos, mods);
    mouse(w, QEvent::MouseButtonRelease, pos, mods);
}

// Buttons at their centre; check boxes and option buttons on their indicator,
// since a box stretched by its layout is clickable only over its contents.
void click(QWidget* w, Qt::KeyboardModifiers mods = {})
{
    const bool box = qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w);
    click(w, box ? QPoint(8, w->height() / 2) : w->rect().center(), mods);
}

void doubleClick(QWidget* w, QPoint pos)
{
    click(w, pos);
    mouse(w, QEvent::MouseButtonDblClick, pos);
    mouse(w, QEvent::MouseButtonRelease, pos);
}

void key(QWidget* w, int k)
{
    const QString text = k == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r");
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

// --- fixture ----------------------------------------------------------------

struct WindowTest : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;
    std::unique_ptr<FrmMain> w;

    void SetUp() override
    {
        setupGuiApplication(*qApp);
        box.writeIni(QStringLiteral("a_setup.ini"), QString::fromUtf8(kSetup));
        box.writeIni(QStringLiteral("b_small.ini"), QString::fromUtf8(kSmall));
        QDir().mkpath(box.drive(QStringLiteral("C")) + QStringLiteral("/deploy"));
        // A Wednesday that is not the version-up day: mode "즉시배포", no messages.
        desk.now = [] { return QDateTime(QDate(2024, 5, 15), QTime(10, 0)); };
        w = std::make_unique<FrmMain>(desk);
        desk.Form_Load();
        w->show();
        desk.visible = true;
        QApplication::processEvents();
    }

    template <typename T>
    T* find(const QString& name)
    {
        T* x = w->findChild<T*>(name);
        EXPECT_NE(x, nullptr) << name.toStdString();
        return x;
    }
    ProjectView* grid() { return find<ProjectView>(QStringLiteral("spList")); }
    ProjectModel* model() { return w->projectModel(); }
    QString selCount() { return find<QLabel>(QStringLiteral("lblSelCount"))->text(); }
    QList<int> tickedRows() const
    {
        QList<int> out;
        for (int r = 1; r <= desk.grid.maxRows(); ++r)
            if (desk.isTicked(r))
                out << r;
        return out;
    }
    QColor background(int row0, int col0)
    {
        return model()->data(model()->index(row0, col0), Qt::BackgroundRole).value<QColor>();
    }
    QPoint cellCenter(int row0, int col0)
    {
        return grid()->visualRect(model()->index(row0, col0)).center();
    }
    QPoint checkBoxOf(int row0)
    {
        const QRect r = grid()->visualRect(model()->index(row0, 0));
        return QPoint(r.left() + 10, r.center().y());
    }
};

TEST_F(WindowTest, LoadedSetupFillsGroupsGridAndLog)
{
    // Groups from the INI; the ones after the last defined group keep their
    // captions and stay disabled.
    const std::pair<const char*, const char*> groups[] = {
        {"btnProjGroup_0", "회계"}, {"btnProjGroup_1", "급여"}, {"btnProjGroup_2", "빈그룹"},
        {"btnProjGroup_3", "그룹선택4"}, {"btnProjGroup_7", "그룹선택8"}};
    for (const auto& [name, caption] : groups) {
        auto* b = find<QAbstractButton>(QString::fromUtf8(name));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), QString::fromUtf8(caption)) << name;
    }
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(find<QPushButton>(QStringLiteral("btnProjGroup_%1").arg(k))->isEnabled(), k < 3) << k;

    EXPECT_TRUE(w->windowTitle().startsWith(QStringLiteral("Rollhaven2 v")));
    EXPECT_EQ(find<QComboBox>(QStringLiteral("cmbSetups"))->currentText(), QStringLiteral("a_setup.ini"));
    EXPECT_EQ(find<QListWidget>(QStringLiteral("lstDest"))->selectionMode(),
              QAbstractItemView::MultiSelection);
    EXPECT_TRUE(find<QRadioButton>(QStringLiteral("optWeek_2"))->isChecked());
    EXPECT_EQ(model()->rowCount(), 5);
    // The start-up log text is shown as loaded.
    EXPECT_TRUE(find<QPlainTextEdit>(QStringLiteral("txtLog"))
                    ->toPlainText()
                    .startsWith(QStringLiteral("[Setup.ini에서 ProjectType=1로 설정시]\n\n  1) ")));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(WindowTest, TickBoxesDriveTheCounterAndRowColours)
{
    // Row 2 came ticked from RecentProjects.
    EXPECT_EQ(selCount(), QStringLiteral("1"));
    EXPECT_EQ(background(1, 4), kTicked);
    EXPECT_EQ(background(0, 4), kWhite);
    EXPECT_EQ(model()->data(model()->index(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
    // The InstallShield project (.ism) is drawn in blue.
    EXPECT_EQ(model()->data(model()->index(1, 1), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    EXPECT_EQ(model()->data(model()->index(0, 1), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 0));

    // Only the tick column is checkable.
    EXPECT_TRUE(model()->flags(model()->index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model()->flags(model()->index(0, 1)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model()->setData(model()->index(0, 1), Qt::Checked, Qt::CheckStateRole));

    ASSERT_TRUE(model()->setData(model()->index(0, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(selCount(), QStringLiteral("2"));
    for (int c = 0; c < ProjectColCount; ++c)
        EXPECT_EQ(background(0, c), kTicked) << c;

    // A mouse click on a row's box ticks it; a second click unticks it.
    click(grid()->viewport(), checkBoxOf(3));
    EXPECT_EQ(tickedRows(), (QList<int>{1, 2, 4}));
    EXPECT_EQ(selCount(), QStringLiteral("3"));
    click(grid()->viewport(), checkBoxOf(3));
    EXPECT_EQ(tickedRows(), (QList<int>{1, 2}));

    ASSERT_TRUE(model()->setData(model()->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(selCount(), QStringLiteral("1"));
    EXPECT_EQ(background(1, 21), kWhite);

    auto* all = find<QCheckBox>(QStringLiteral("ChkAll"));
    click(all);
    EXPECT_EQ(selCount(), QStringLiteral("5"));
    EXPECT_EQ(background(4, 10), kTicked);
    click(all);
    EXPECT_EQ(selCount(), QStringLiteral("0"));
    EXPECT_TRUE(tickedRows().isEmpty());
}

TEST_F(WindowTest, KeysAndDoubleClicksToggleTheActiveRowOutsideTheTickColumn)
{
    ProjectView* view = grid();
    view->setFocus();
    view->setCurrentIndex(model()->index(2, 1));
    EXPECT_EQ(desk.grid.activeRow(), 3);
    EXPECT_EQ(desk.grid.activeCol(), 2);

    key(view, Qt::Key_Space);
    EXPECT_EQ(tickedRows(), (QList<int>{2, 3}));
    key(view, Qt::Key_Return);
    EXPECT_EQ(tickedRows(), (QList<int>{2}));

    // On the tick column Enter does nothing and Space is the box's own toggle:
    // exactly one toggle, never two.
    view->setCurrentIndex(model()->index(4, 0));
    key(view, Qt::Key_Return);
    EXPECT_EQ(tickedRows(), (QList<int>{2}));
    key(view, Qt::Key_Space);
    EXPECT_EQ(tickedRows(), (QList<int>{2, 5}));

    doubleClick(view->viewport(), cellCenter(0, 2));
    EXPECT_EQ(tickedRows(), (QList<int>{1, 2, 5}));
    EXPECT_EQ(desk.grid.activeRow(), 1);
    EXPECT_EQ(selCount(), QStringLiteral("3"));

    // The steps move the active cell; the view follows.
    desk.grid.setActiveCell(ColStatus, 4);
    EXPECT_EQ(view->currentIndex(), model()->index(3, ColStatus - 1));
}

TEST_F(WindowTest, MouseBlockSelectionTogglesEveryRowOfTheBlock)
{
    ProjectView* view = grid();
    QWidget* vp = view->viewport();

    // A plain click on a cell is no block.
    click(vp, cellCenter(3, 3));
    EXPECT_EQ(tickedRows(), (QList<int>{2}));

    // Drag from row 1 to row 3: each row toggles once.
    mouse(vp, QEvent::MouseButtonPress, cellCenter(0, 3));
    mouse(vp, QEvent::MouseMove, cellCenter(1, 3));
    mouse(vp, QEvent::MouseMove, cellCenter(2, 3));
    mouse(vp, QEvent::MouseButtonRelease, cellCenter(2, 3));
    EXPECT_EQ(tickedRows(), (QList<int>{1, 3}));
    EXPECT_EQ(selCount(), QStringLiteral("2"));

    // Upwards, ending on a tick box: the block toggles, the box adds nothing.
    mouse(vp, QEvent::MouseButtonPress, cellCenter(4, 2));
    mouse(vp, QEvent::MouseMove, cellCenter(3, 1));
    mouse(vp, QEvent::MouseMove, checkBoxOf(3));
    mouse(vp, QEvent::MouseButtonRelease, checkBoxOf(3));
    EXPECT_EQ(tickedRows(), (QList<int>{1, 3, 4, 5}));
    EXPECT_EQ(selCount(), QStringLiteral("4"));
}

TEST_F(WindowTest, GroupButtonsReplaceOrWithCtrlAddToTheSelection)
{
    auto* accounting = find<QPushButton>(QStringLiteral("btnProjGroup_0"));
    auto* payroll = find<QPushButton>(QStringLiteral("btnProjGroup_1"));

    click(accounting);
    EXPECT_EQ(tickedRows(), (QList<int>{1, 3}));
    EXPECT_EQ(selCount(), QStringLiteral("2"));

    click(payroll, Qt::ControlModifier);
    EXPECT_EQ(tickedRows(), (QList<int>{1, 2, 3, 4}));
    EXPECT_EQ(selCount(), QStringLiteral("4"));
    EXPECT_FALSE(desk.groupAdd); // the release clears it

    // Ctrl with Shift is no add.
    click(accounting, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tickedRows(), (QList<int>{1, 3}));

    click(payroll);
    EXPECT_EQ(tickedRows(), (QList<int>{2, 4}));
    EXPECT_EQ(background(1, 0), kTicked);
    EXPECT_EQ(background(0, 0), kWhite);

    click(find<QPushButton>(QStringLiteral("btnProjGroup_2")));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("그룹선택 설정값이 비어있습니다.")});
    EXPECT_EQ(tickedRows(), (QList<int>{2, 4}));
}

TEST_F(WindowTest, ARunDisablesTheRunControlsUntilItEnds)
{
    // Only the compile box: uncheck the others through the widgets.
    for (int i : {1, 2, 4, 5})
        click(find<QCheckBox>(QStringLiteral("chkStep_%1").arg(i)));
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(desk.chkStep[size_t(i)].checked, i == 0) << i;
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("cmdAllStep"))->isEnabled());

    const QStringList runControls = {"btnTrans", "btnSourceMerge", "cmbSetups", "chkStep_0",
                                     "chkStep_3", "cmdAllStep", "spList", "ChkAll",
                                     "btnProjGroup_0", "lstDest", "chkTestVer", "optWeek_0",
                                     "ProgressBar1", "btnImdAutoRemove"};
    QMap<QString, bool> during;
    int calls = 0;
    desk.steps.step1_2 = [&] {
        ++calls;
        for (const QString& n : runControls)
            during[n] = find<QWidget>(n)->isEnabled();
        during[QStringLiteral("btnClose")] = find<QWidget>(QStringLiteral("btnClose"))->isEnabled();
        desk.AddLog(QStringLiteral("[정상] 원장관리 컴파일 완료"));
        return true;
    };
    ui.answer(true); // "정말 시작할까요?"
    click(find<QPushButton>(QStringLiteral("btnTrans")));

    ASSERT_EQ(calls, 1) << ui.texts().join(QLatin1Char('|')).toStdString();
    for (const QString& n : runControls) {
        EXPECT_FALSE(during.value(n, true)) << n.toStdString() << " enabled during the run";
        EXPECT_TRUE(find<QWidget>(n)->isEnabled()) << n.toStdString() << " disabled after the run";
    }
    EXPECT_TRUE(during.value(QStringLiteral("btnClose")));

    const QStringList lines = find<QPlainTextEdit>(QStringLiteral("txtLog"))->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("Start...10:00:00"));
    EXPECT_EQ(lines[1], QStringLiteral("[정상] 원장관리 컴파일 완료"));
    EXPECT_EQ(lines[2], QStringLiteral("Finish! 10:00:00"));
    EXPECT_EQ(lines[3], QStringLiteral("경과시간: 00:00:00"));
    EXPECT_TRUE(ui.tells().contains(QStringLiteral("처리가 완료 되었습니다.")));
}

TEST_F(WindowTest, CloseIsRefusedDuringAnFtpTransferAndSavesTheSelectionOtherwise)
{
    desk.ftpBusy = true;
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(desk.cancelRequested);
    EXPECT_FALSE(desk.closed);

    desk.ftpBusy = false;
    click(find<QPushButton>(QStringLiteral("btnProjGroup_0")));
    click(find<QPushButton>(QStringLiteral("btnClose")));
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(desk.closed);
    EXPECT_EQ(ProfileFile::load(box.iniPath(QStringLiteral("a_setup.ini")))
                  .getText(QStringLiteral("General"), QStringLiteral("RecentProjects"), QString(), 200),
              QStringLiteral(";1;3"));
}

TEST_F(WindowTest, ADistributingRunWithCloseAfterTransferClosesTheWindow)
{
    click(find<QCheckBox>(QStringLiteral("chkEndUnload")));
    ASSERT_TRUE(desk.chkEndUnload.checked);
    int distributed = 0;
    desk.steps.step3 = [&] {
        ++distributed;
        return true;
    };
    ui.answer(true);
    click(find<QPushButton>(QStringLiteral("btnTrans")));
    EXPECT_EQ(distributed, 1);
    EXPECT_EQ(desk.lastRunResult(), Desk::RunResult::Closed);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(WindowTest, RunHistoryListsAFinishedRunAndShowsItsVerificationTable)
{
    // A distributing run whose executable is not there: the verification says so.
    desk.chkVerUpdate.checked = false; // no servers in this test
    desk.steps.step3 = [&] {
        desk.grid.setText(ColFileVersion, 2, QStringLiteral("1.0.0.1"));
        return true;
    };
    ui.answer(true);
    click(find<QPushButton>(QStringLiteral("btnTrans")));
    ASSERT_EQ(desk.lastRunResult(), Desk::RunResult::Finished);
    EXPECT_TRUE(desk.verificationFailed());

    click(find<QPushButton>(QStringLiteral("btnHistory")));
    auto* history = w->findChild<FrmHistory*>();
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->windowTitle(), QStringLiteral("실행 기록"));
    ASSERT_EQ(history->runs->rowCount(), 1);
    EXPECT_EQ(history->runs->item(0, 1)->text(), QStringLiteral("급여관리"));
    // The disagreements are the run's "[오류]" lines: finished with errors.
    EXPECT_EQ(history->runs->item(0, 2)->text(), QStringLiteral("완료 (오류 %1건)").arg(desk.runErrorCount()));
    EXPECT_TRUE(history->runs->item(0, 4)->text().startsWith(QStringLiteral("불일치")));
    EXPECT_TRUE(history->log->toPlainText().startsWith(QStringLiteral("Start...10:00:00\n")));
    ASSERT_GE(history->checks->rowCount(), 1);
    EXPECT_EQ(history->checks->item(0, 1)->text(), QStringLiteral("실행파일 버전"));
    EXPECT_EQ(history->checks->item(0, 2)->text(), QStringLiteral("(프로젝트 파일 버전 없음)"));
    EXPECT_EQ(history->checks->item(0, 4)->text(), QStringLiteral("불일치"));
    history->close();
}

TEST_F(WindowTest, ChoosingAnotherSetupReloadsGridAndGroups)
{
    click(find<QPushButton>(QStringLiteral("btnProjGroup_1"))); // rows 2, 4
    auto* combo = find<QComboBox>(QStringLiteral("cmbSetups"));
    ASSERT_EQ(combo->count(), 2);
    Q_EMIT combo->activated(1);

    EXPECT_EQ(model()->rowCount(), 2);
    EXPECT_EQ(model()->data(model()->index(1, 1)).toString(), QStringLiteral("메신저"));
    EXPECT_EQ(find<QPushButton>(QStringLiteral("btnProjGroup_0"))->text(), QStringLiteral("전부"));
    EXPECT_FALSE(find<QPushButton>(QStringLiteral("btnProjGroup_1"))->isEnabled());
    EXPECT_EQ(find<QPushButton>(QStringLiteral("btnProjGroup_1"))->text(), QStringLiteral("그룹선택2"));
    EXPECT_EQ(selCount(), QStringLiteral("1"));
    EXPECT_EQ(background(0, 3), kTicked);
    // The selection of the file left behind was kept.
    EXPECT_EQ(ProfileFile::load(box.iniPath(QStringLiteral("a_setup.ini")))
                  .getText(QStringLiteral("General"), QStringLiteral("RecentProjects"), QString(), 200),
              QStringLiteral(";2;4"));
}

TEST_F(WindowTest, DestinationListAndModesAreBoundToTheDesk)
{
    auto* list = find<QListWidget>(QStringLiteral("lstDest"));
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("C:\\deploy"));
    EXPECT_EQ(list->selectedItems().size(), 3);

    list->item(1)->setSelected(false);
    EXPECT_EQ(desk.lstDest.selectedItems(),
              (QStringList{QStringLiteral("FTP 다운로드"), QStringLiteral("C:\\deploy")}));
    // A click toggles an entry and makes it the current one.
    click(list->viewport(), list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(desk.lstDest.selectedItems().size(), 3);
    EXPECT_EQ(desk.lstDest.current, 1);
    click(list->viewport(), list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(desk.lstDest.selected, (QList<bool>{false, true, true}));
    EXPECT_EQ(desk.lstDest.current, 0);

    click(find<QCheckBox>(QStringLiteral("chkTestVer")));
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("C:\\beta"));
    EXPECT_TRUE(list->item(0)->isSelected());

    // The mode already chosen starts nothing; another one applies its presets
    // and, on the shown window, asks to start.
    click(find<QRadioButton>(QStringLiteral("optWeek_2")));
    EXPECT_TRUE(ui.questions().isEmpty());
    ui.answer(false);
    click(find<QRadioButton>(QStringLiteral("optWeek_1")));
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("정말 시작할까요?")});
    EXPECT_FALSE(find<QCheckBox>(QStringLiteral("chkTestVer"))->isChecked());
    EXPECT_TRUE(find<QCheckBox>(QStringLiteral("chkWriteVer"))->isChecked());
    EXPECT_FALSE(find<QCheckBox>(QStringLiteral("chkFTPAutoRemove"))->isChecked());
    EXPECT_EQ(list->count(), 3);

    click(find<QCheckBox>(QStringLiteral("chkPatchOnly")));
    EXPECT_TRUE(desk.chkPatchOnly.checked);
    click(find<QCheckBox>(QStringLiteral("chkFTPAutoRemove")));
    EXPECT_TRUE(desk.chkFTPAutoRemove.checked);
}

// --- the Qt interaction --------------------------------------------------------

// Runs `inspect` on the message box once it is open, then presses `pick`.
void onNextMessageBox(std::function<void(QMessageBox*)> inspect,
                      std::function<QAbstractButton*(QMessageBox*)> pick)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, inspect, pick] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        inspect(box);
        pick(box)->click();
    });
    timer->start();
}

TEST(QtInteractionTest, MessageBoxesCarryTitleIconAndDefaultButton)
{
    QtInteraction qt;
    ASSERT_EQ(&interaction(), &qt);

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool defaultIsNo = false;
    auto record = [&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
    };
    auto pressDefault = [](QMessageBox* box) { return static_cast<QAbstractButton*>(box->defaultButton()); };

    onNextMessageBox(record, pressDefault);
    EXPECT_FALSE(qt.askYesNo(QStringLiteral("그래도 시작하시겠습니까?"), QStringLiteral("버전업 확인"),
                             MsgIcon::Question, true));
    EXPECT_EQ(title, QStringLiteral("버전업 확인"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_TRUE(defaultIsNo);

    onNextMessageBox(record, pressDefault);
    EXPECT_TRUE(rh::askYesNo(QStringLiteral("정말 시작할까요?")));
    EXPECT_EQ(title, appTitle());
    EXPECT_FALSE(defaultIsNo);

    // While busy the box shows the arrow; the hourglass comes back afterwards.
    qt.setBusy(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Qt::CursorShape inBox = Qt::WaitCursor;
    onNextMessageBox(
        [&](QMessageBox* box) {
            record(box);
            inBox = QApplication::overrideCursor()->shape();
        },
        [](QMessageBox* box) { return box->button(QMessageBox::Ok); });
    qt.tell(QStringLiteral("전송목적지 경로가 존재하지 않습니다.\r\nC:\\x"), QStringLiteral("T"),
            MsgIcon::Exclamation);
    EXPECT_EQ(inBox, Qt::ArrowCursor);
    EXPECT_EQ(text, QStringLiteral("전송목적지 경로가 존재하지 않습니다.\nC:\\x"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    qt.setBusy(true); // no second layer
    qt.setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtInteractionTest, ProgressDialogReportsCancel)
{
    QtInteraction qt;
    EXPECT_TRUE(qt.showProgress(QStringLiteral("복사"), QStringLiteral("a.exe"), 10, 100));
    QProgressDialog* dlg = nullptr;
    for (QWidget* t : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<QProgressDialog*>(t))
            dlg = p;
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->value(), 10);
    EXPECT_EQ(dlg->maximum(), 100);
    // Totals beyond the bar's int range are shown in thousandths.
    EXPECT_TRUE(qt.showProgress(QStringLiteral("복사"), QStringLiteral("big"), 3'000'000'000LL,
                                6'000'000'000LL));
    EXPECT_EQ(dlg->maximum(), 1000);
    EXPECT_EQ(dlg->value(), 500);
    dlg->cancel();
    EXPECT_FALSE(qt.showProgress(QStringLiteral("복사"), QStringLiteral("a.exe"), 20, 100));
    qt.endProgress();
    for (QWidget* t : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<QProgressDialog*>(t), nullptr);
}

TEST(GuiMainTest, CommandLineDropsTheProgramAndTheHomeOption)
{
    EXPECT_EQ(guiCommandLine({QStringLiteral("rollhaven2"), QStringLiteral("--home"), QStringLiteral("/opt/rh"),
                              QStringLiteral("/opt/rh/inis/a.ini")}),
              QStringList{QStringLiteral("/opt/rh/inis/a.ini")});
    EXPECT_EQ(guiCommandLine({QStringLiteral("rollhaven2"), QStringLiteral("--home=/opt/rh")}), QStringList{});
    EXPECT_EQ(guiCommandLine({QStringLiteral("rollhaven2")}), QStringList{});
}

} // namespace

// 닫기 during an upload, then Yes: the run ends cancelled, the window stays
// with its log even with 전송후 닫기 ticked, and the report says so.
TEST_F(WindowTest, ACancelledUploadEndsTheRunCancelledAndKeepsTheWindow)
{
    rh::test::FtpServer server;
    rh::test::FtpServer::Options slow;
    slow.throttleBytesPerSec = 1 << 20;
    ASSERT_TRUE(server.start(slow)) << server.diagnostics().toStdString();
    box.site() = server.siteConfig(box.site());
    box.apply();
    QDir().mkpath(server.localPath(QStringLiteral("/public_html/download")));
    const QString local = box.drive(QStringLiteral("D")) + QStringLiteral("/out/ledger_setup_2.exe");
    Sandbox::writeAnsi(local, QString(4 << 20, QLatin1Char('x')));
    click(find<QCheckBox>(QStringLiteral("chkEndUnload")));
    ASSERT_TRUE(desk.chkEndUnload.checked);
    bool asked = false;
    ui.onPump = [&] {
        if (!asked && desk.ftpBusy && ftpConnection(desk).bytesSent > (256 << 10)) {
            asked = true;
            w->close(); // the window's 닫기
        }
    };
    desk.steps.step3 = [&] {
        if (!FtpConnect(desk))
            return false;
        const bool ok = FtpUploadFile(desk, QStringLiteral("D:\\out\\ledger_setup_2.exe"),
                                      QStringLiteral("ledger_setup_2.exe"), QStringLiteral("0"));
        FtpDisconnect(desk);
        return ok;
    };
    ui.answers({true, true}); // "정말 시작할까요?", "다운로드를 중단할까요?"
    click(find<QPushButton>(QStringLiteral("btnTrans")));
    ui.onPump = nullptr;

    ASSERT_TRUE(asked);
    EXPECT_EQ(desk.lastRunResult(), Desk::RunResult::Cancelled);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(desk.closed);
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("btnTrans"))->isEnabled());
    const QString log = find<QPlainTextEdit>(QStringLiteral("txtLog"))->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("[정상] FTP 전송 취소: 끝나지 않은 파일을 서버에서 지웠습니다: "
                                            "/public_html/download/ledger_setup_2.exe")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Finish!")));
    QFile report(desk.lastRunFileBase + QStringLiteral(".json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(report.readAll()).object().value(QStringLiteral("result")).toString(),
              QStringLiteral("cancelled"));
    EXPECT_EQ(loadRunHistory(desk.lastRunFileBase.section(QLatin1Char('/'), 0, -2)).value(0).result,
              QStringLiteral("취소됨"));
}
