#pragma once
// FrmMain: the release desk's window. It owns no behaviour: every widget
// event calls a desk handler and every desk change is drawn from the desk.
#include <QPushButton>
#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QSplitter;
class QTimer;

namespace rh {

class Desk;
class DeskButton;
class ProjectModel;
class ProjectView;

class FrmMain final : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(Desk& desk, QWidget* parent = nullptr);
    ~FrmMain() override;

    Desk& desk() { return m_desk; }
    ProjectModel* projectModel() const { return m_model; }

    // Draws every control from the desk.
    void refreshFromDesk();

    // Size, position, splitters and grid column widths, per user.
    void saveWindowState() const;
    void restoreWindowState();
    // The shortcuts as the 도움말 list shows them.
    static QString shortcutHelp();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildTopBar();
    QGroupBox* buildProjectFrame();
    QGroupBox* buildStepFrame();
    QGroupBox* buildDestFrame();
    QWidget* buildRunBar();
    QGroupBox* buildLogFrame();
    QGroupBox* buildFtpFrame();
    void connectDesk();
    void setGridColumnWidths();
    QWidget* buildRunStatus();
    void installShortcuts();
    void setTabOrderByLayout();
    void refreshProgress();
    void showHistory();
    void showHelp();

    void refreshLog();
    void refreshDestinations();
    void onDestinationSelectionChanged();
    void onActiveCellChanged(int col, int row);

    Desk& m_desk;
    ProjectModel* m_model = nullptr;
    bool m_refreshing = false;
    bool m_inCloseEvent = false;
    QString m_shownLog; // the desk's log text as the view shows it

    // Controls, named as the desk names them.
    ProjectView* spList = nullptr;
    QLabel* lblSelCount = nullptr;
    QCheckBox* ChkAll = nullptr;
    std::array<DeskButton*, 8> btnProjGroup{};
    QComboBox* cmbSetups = nullptr;
    QPushButton* cmdOpenINI = nullptr;
    QPushButton* cmdVerUp = nullptr;
    std::array<QCheckBox*, 6> chkStep{};
    QPushButton* cmdAllStep = nullptr;
    QCheckBox* chkTestVer = nullptr;
    QCheckBox* chkPatchOnly = nullptr;
    std::array<QRadioButton*, 3> optWeek{};
    QPushButton* btnTrans = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnHistory = nullptr; // 실행 기록
    QPushButton* btnStop = nullptr;    // 중지
    QPushButton* btnHelp = nullptr;    // 도움말
    QProgressBar* pgbRun = nullptr;    // units of work done / planned
    QLabel* lblRunTime = nullptr;      // elapsed and remaining
    QLabel* lblStatus = nullptr;       // step, product, unit of work
    QLabel* lblFtpError = nullptr;     // why the last upload failed
    QPushButton* btnSourceMerge = nullptr;
    QListWidget* lstDest = nullptr;
    QCheckBox* chkWriteVer = nullptr;
    QCheckBox* chkVerUpdate = nullptr;
    QCheckBox* chkEndUnload = nullptr;
    QCheckBox* chkFTPAutoRemove = nullptr;
    QCheckBox* chkDryRun = nullptr;
    QPushButton* btnImdAutoRemove = nullptr;
    QPlainTextEdit* txtLog = nullptr;
    QLabel* lblFileName = nullptr;
    QLabel* lbFar = nullptr;
    QLabel* lbLeft = nullptr;
    QLabel* lbCelkem = nullptr;
    QLabel* lbTime = nullptr;
    QLabel* lbTimeLeft = nullptr;
    QLabel* lbSpeed = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    QGroupBox* m_projectFrame = nullptr;
    QGroupBox* m_stepFrame = nullptr;
    QGroupBox* m_destFrame = nullptr;
    QGroupBox* m_ftpFrame = nullptr;
    QSplitter* m_mainSplitter = nullptr;
    QSplitter* m_upperSplitter = nullptr;
    QSplitter* m_lowerSplitter = nullptr;
    QTimer* m_clock = nullptr; // redraws the elapsed time during a run
};

// A push button that also reports the mouse press (with its modifiers) and the
// release, in the order of the desk's handlers: press, click, release.
class DeskButton final : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

Q_SIGNALS:
    void mouseDown(Qt::KeyboardModifiers modifiers);
    void mouseUp();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace rh
