#include "ui/frmmain.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/resume.h"
#include "platform/apphome.h"
#include "platform/interaction.h"
#include "platform/usersettings.h"
#include "ui/frmhistory.h"
#include "ui/projectmodel.h"
#include "ui/projectview.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMimeDatabase>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace rh {
namespace {

// Width of the right-hand column (steps, distribution, FTP status).
constexpr int kSideWidth = 335;

// The desktop's application for the file. xdg-open starts and does nothing
// visible when no application is set for the type, so that is asked first.
bool openWithDesktop(const QString& path)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return false;
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                          QMimeDatabase().mimeTypeForFile(path).name()});
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return false;
    }
    if (query.exitCode() != 0 || query.readAllStandardOutput().trimmed().isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QColor toColor(Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

template <typename W>
W* named(W* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

QCheckBox* checkBox(const QString& name, const QString& caption)
{
    return named(new QCheckBox(caption), name);
}

QPushButton* pushButton(const QString& name, const QString& caption)
{
    return named(new QPushButton(caption), name);
}

QGroupBox* frame(const QString& name, const QString& title)
{
    return named(new QGroupBox(title), name);
}

QLabel* valueLabel(const QString& name)
{
    QLabel* l = named(new QLabel, name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(120);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

void drawButton(QPushButton* b, const Button& model)
{
    b->setText(model.caption);
    b->setEnabled(model.enabled);
    QPalette p; // empty: every role inherited (the system button face)
    if (!model.defaultColor)
        p.setColor(QPalette::Button, toColor(model.back));
    b->setPalette(p);
}

void drawBox(QCheckBox* w, const CheckBox& model)
{
    w->setChecked(model.checked);
    w->setEnabled(model.enabled);
}

QString shownText(const QString& crlfText)
{
    QString t = crlfText;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

// Default widths of the grid's columns (1-based), wide enough for typical
// contents; the header text is the lower bound.
constexpr int kColumnWidths[ProjectColCount + 1] = {
    0,   // unused
    44,  // 선택
    150, // 프로젝트명
    90,  // 버전
    240, // 진행상태
    36,  // PT
    90,  // PROJECT ID
    230, // vbp경로
    230, // exe경로
    64,  // 셋업구분
    230, 230, 230, 230, // setup projects and results
    160, 160,           // result file names
    130,                // 실행파일날자
    230,                // 패치파일경로
    170,                // 패치파일명
    100, 90,            // 업무일지CODE, 웹게시CODE
    220,                // 정식버전경로
    170,                // 변경셋업파일명
};

} // namespace

// ---------------------------------------------------------------------------

void DeskButton::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT mouseDown(event->modifiers());
    QPushButton::mousePressEvent(event);
}

void DeskButton::mouseReleaseEvent(QMouseEvent* event)
{
    QPushButton::mouseReleaseEvent(event); // emits clicked
    Q_EMIT mouseUp();
}

// ---------------------------------------------------------------------------

FrmMain::FrmMain(Desk& desk, QWidget* parent) : QWidget(parent), m_desk(desk)
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(appTitle());

    // The right column scrolls when the window is too low for it, so every
    // control stays reachable on a small screen.
    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 4, 0);
    sideLayout->addWidget(buildStepFrame());
    sideLayout->addWidget(buildDestFrame(), 1);
    sideLayout->addWidget(buildRunBar());
    auto* sideScroll = named(new QScrollArea, QStringLiteral("sideScroll"));
    sideScroll->setWidget(side);
    sideScroll->setWidgetResizable(true);
    sideScroll->setFrameShape(QFrame::NoFrame);
    sideScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Scrolls up and down only: never narrower than what it holds.
    sideScroll->setMinimumWidth(side->minimumSizeHint().width()
                                + sideScroll->verticalScrollBar()->sizeHint().width());

    m_upperSplitter = named(new QSplitter(Qt::Horizontal), QStringLiteral("upperSplitter"));
    m_upperSplitter->setChildrenCollapsible(false);
    m_upperSplitter->addWidget(buildProjectFrame());
    m_upperSplitter->addWidget(sideScroll);
    m_upperSplitter->setStretchFactor(0, 1);
    m_upperSplitter->setStretchFactor(1, 0);

    QGroupBox* ftp = buildFtpFrame();
    auto* ftpScroll = named(new QScrollArea, QStringLiteral("ftpScroll"));
    ftpScroll->setWidget(ftp);
    ftpScroll->setWidgetResizable(true);
    ftpScroll->setFrameShape(QFrame::NoFrame);
    ftpScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ftpScroll->setMinimumWidth(ftp->minimumSizeHint().width() + ftpScroll->verticalScrollBar()->sizeHint().width());
    m_lowerSplitter = named(new QSplitter(Qt::Horizontal), QStringLiteral("lowerSplitter"));
    m_lowerSplitter->setChildrenCollapsible(false);
    m_lowerSplitter->addWidget(buildLogFrame());
    m_lowerSplitter->addWidget(ftpScroll);
    m_lowerSplitter->setStretchFactor(0, 1);
    m_lowerSplitter->setStretchFactor(1, 0);

    m_mainSplitter = named(new QSplitter(Qt::Vertical), QStringLiteral("mainSplitter"));
    m_mainSplitter->setChildrenCollapsible(false);
    m_mainSplitter->addWidget(m_upperSplitter);
    m_mainSplitter->addWidget(m_lowerSplitter);
    m_mainSplitter->setStretchFactor(0, 3);
    m_mainSplitter->setStretchFactor(1, 2);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 4);
    root->addWidget(buildTopBar());
    root->addWidget(m_mainSplitter, 1);
    root->addWidget(buildRunStatus());

    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &FrmMain::refreshProgress);

    connectDesk();
    installShortcuts();
    setTabOrderByLayout();
    refreshFromDesk();
    // The side columns get their width, the grid and the log the rest.
    m_upperSplitter->setSizes({1000, kSideWidth});
    m_lowerSplitter->setSizes({1000, kSideWidth});
    QSize size(1320, 860);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
    restoreWindowState();
}

FrmMain::~FrmMain() = default;

QWidget* FrmMain::buildTopBar()
{
    auto* bar = new QWidget;
    auto* l = new QHBoxLayout(bar);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(new QLabel(QStringLiteral("설정파일")));
    cmbSetups = named(new QComboBox, QStringLiteral("cmbSetups"));
    cmbSetups->setMinimumWidth(260);
    cmbSetups->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    l->addWidget(cmbSetups);
    cmdOpenINI = pushButton(QStringLiteral("cmdOpenINI"), QStringLiteral("INI 열기"));
    l->addWidget(cmdOpenINI);
    l->addStretch(1);
    cmdVerUp = pushButton(QStringLiteral("cmdVerUp"), QStringLiteral("버전업(매월 마지막 금)"));
    l->addWidget(cmdVerUp);
    btnSourceMerge = pushButton(QStringLiteral("btnSourceMerge"), QStringLiteral("소스통합"));
    l->addWidget(btnSourceMerge);

    cmbSetups->setToolTip(QStringLiteral("inis 폴더의 설정파일; 폴더에 파일이 생기거나 없어지면 목록도 바뀝니다"));
    cmdOpenINI->setToolTip(QStringLiteral("설정파일을 편집기로 엽니다 (Ctrl+O)"));
    cmdVerUp->setToolTip(QStringLiteral("선택한 프로젝트의 버전을 올립니다 (매월 마지막 화요일)"));
    btnSourceMerge->setToolTip(QStringLiteral("소스통합 도구를 실행합니다"));
    connect(cmbSetups, &QComboBox::activated, this, [this](int i) {
        if (!m_refreshing)
            m_desk.chooseSetup(i);
    });
    connect(cmdOpenINI, &QPushButton::clicked, this, [this] { m_desk.OpenIni(); });
    connect(cmdVerUp, &QPushButton::clicked, this, [this] { m_desk.cmdVerUp_Click(); });
    connect(btnSourceMerge, &QPushButton::clicked, this, [this] { m_desk.btnSourceMerge_Click(); });
    return bar;
}

QGroupBox* FrmMain::buildProjectFrame()
{
    m_projectFrame = frame(QStringLiteral("fraProject"), QStringLiteral("프로젝트"));
    auto* v = new QVBoxLayout(m_projectFrame);

    auto* tools = new QHBoxLayout;
    ChkAll = checkBox(QStringLiteral("ChkAll"), QStringLiteral("전체"));
    ChkAll->setToolTip(QStringLiteral("모든 프로젝트를 선택하거나 해제합니다"));
    tools->addWidget(ChkAll);
    tools->addSpacing(12);
    tools->addWidget(new QLabel(QStringLiteral("선택:")));
    lblSelCount = named(new QLabel(QStringLiteral("0")), QStringLiteral("lblSelCount"));
    QFont bold = lblSelCount->font();
    bold.setBold(true);
    lblSelCount->setFont(bold);
    lblSelCount->setMinimumWidth(28);
    tools->addWidget(lblSelCount);
    tools->addSpacing(12);
    for (int k = 0; k < 8; ++k) {
        auto* b = named(new DeskButton(QStringLiteral("그룹선택") + QString::number(k + 1)),
                        QStringLiteral("btnProjGroup_") + QString::number(k));
        // The eight share the row; on a narrow window they shrink rather than
        // widen the window.
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        b->setMinimumWidth(40); // the caption is in the tool tip too
        btnProjGroup[size_t(k)] = b;
        tools->addWidget(b, 1);
        connect(b, &DeskButton::mouseDown, this, [this, k](Qt::KeyboardModifiers m) {
            m_desk.groupMouseDown(k, m.testFlag(Qt::ControlModifier), m.testFlag(Qt::ShiftModifier),
                                  m.testFlag(Qt::AltModifier));
        });
        connect(b, &QPushButton::clicked, this, [this, k] { m_desk.groupClick(k); });
        connect(b, &DeskButton::mouseUp, this, [this, k] { m_desk.groupMouseUp(k); });
    }
    v->addLayout(tools);

    spList = named(new ProjectView, QStringLiteral("spList"));
    m_model = new ProjectModel(m_desk, this);
    spList->setModel(m_model);
    // The selection tint lets the ticked rows' yellow show through.
    QPalette p = spList->palette();
    p.setColor(QPalette::Highlight, QColor(70, 130, 220, 70));
    p.setColor(QPalette::HighlightedText, QColor(0, 0, 0));
    spList->setPalette(p);
    setGridColumnWidths();
    v->addWidget(spList, 1);

    connect(ChkAll, &QCheckBox::clicked, this, [this](bool on) { m_desk.chkAllClick(on); });
    connect(spList, &ProjectView::blockSelected, this,
            [this](int r1, int r2) { m_desk.blockSelected(r1, r2); });
    connect(spList, &ProjectView::cellDoubleClicked, this,
            [this](int col, int row) { m_desk.gridDoubleClick(col, row); });
    connect(spList, &ProjectView::gridKeyPress, this, [this](int key) { m_desk.gridKeyPress(key); });
    connect(spList, &ProjectView::activeCellMoved, this, [this](int col, int row) {
        if (!m_refreshing)
            m_desk.grid.setActiveCell(col, row);
    });
    return m_projectFrame;
}

void FrmMain::setGridColumnWidths()
{
    QHeaderView* h = spList->horizontalHeader();
    const QFontMetrics fm(h->font());
    for (int c = 1; c <= ProjectColCount; ++c)
        h->resizeSection(c - 1,
                         std::max(kColumnWidths[c], fm.horizontalAdvance(projectColumnHeader(c)) + 20));
    spList->verticalHeader()->setDefaultSectionSize(spList->fontMetrics().height() + 8);
    spList->verticalHeader()->setMinimumWidth(32);
}

QGroupBox* FrmMain::buildStepFrame()
{
    m_stepFrame = frame(QStringLiteral("fraStep"), QStringLiteral("작업 단계"));
    auto* g = new QGridLayout(m_stepFrame);
    static const char* const captions[6] = {"컴파일", "셋업", "배포", "RUN", "빌드서명", "셋업서명"};
    for (int i = 0; i < 6; ++i) {
        chkStep[size_t(i)] = checkBox(QStringLiteral("chkStep_") + QString::number(i),
                                      QString::fromUtf8(captions[i]));
        connect(chkStep[size_t(i)], &QCheckBox::clicked, this,
                [this, i](bool on) { m_desk.setStep(i, on); });
    }
    // Shown in the order the run takes them.
    const int order[6] = {StepRun, StepCompile, StepBuildSign, StepSetup, StepSetupSign, StepDistribute};
    for (int n = 0; n < 6; ++n)
        g->addWidget(chkStep[size_t(order[n])], n / 3, n % 3);
    chkDryRun = checkBox(QStringLiteral("chkDryRun"), QStringLiteral("모의실행"));
    chkDryRun->setToolTip(QStringLiteral("파일, 프로그램, FTP, 데이터베이스는 그대로 두고 할 일만 기록합니다"));
    g->addWidget(chkDryRun, 2, 0, 1, 3);
    connect(chkDryRun, &QCheckBox::clicked, this, [this](bool on) { m_desk.chkDryRun.checked = on; });
    chkDryRun->setToolTip(chkDryRun->toolTip() + QStringLiteral(" (Ctrl+D)"));
    static const char* const tips[6] = {
        "프로젝트를 컴파일하고 UPX로 압축합니다", "풀버전과 패치 셋업을 만듭니다",
        "셋업을 목적지와 FTP에 보내고 정식버전, 버전파일, 업무일지, 다운로드 목록을 올립니다",
        "프로젝트를 개발환경에서 한 번 실행합니다", "실행파일을 서명 스테이션에 맡깁니다",
        "셋업과 패치를 서명 스테이션에 맡깁니다"};
    for (int i = 0; i < 6; ++i)
        chkStep[size_t(i)]->setToolTip(QString::fromUtf8(tips[i]));
    cmdAllStep = pushButton(QStringLiteral("cmdAllStep"), QStringLiteral("All"));
    cmdAllStep->setToolTip(QStringLiteral("모든 단계를 선택하고 시작"));
    g->addWidget(cmdAllStep, 0, 3, 2, 1);
    cmdAllStep->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    connect(cmdAllStep, &QPushButton::clicked, this, [this] { m_desk.cmdAllStep_Click(); });
    return m_stepFrame;
}

QGroupBox* FrmMain::buildDestFrame()
{
    m_destFrame = frame(QStringLiteral("fraDest"), QStringLiteral("배포"));
    auto* v = new QVBoxLayout(m_destFrame);

    auto* modes = new QHBoxLayout;
    static const char* const captions[3] = {"금요배포", "화요배포", "즉시배포"};
    for (int i = 0; i < 3; ++i) {
        optWeek[size_t(i)] = named(new QRadioButton(QString::fromUtf8(captions[i])),
                                   QStringLiteral("optWeek_") + QString::number(i));
        modes->addWidget(optWeek[size_t(i)]);
        // A mode is chosen when its button becomes the selected one.
        connect(optWeek[size_t(i)], &QRadioButton::clicked, this, [this, i](bool on) {
            if (on && m_desk.optWeek != i)
                m_desk.optWeekClick(i);
        });
    }
    v->addLayout(modes);

    auto* opts = new QGridLayout;
    chkTestVer = checkBox(QStringLiteral("chkTestVer"), QStringLiteral("Test버전"));
    chkPatchOnly = checkBox(QStringLiteral("chkPatchOnly"), QStringLiteral("패치만"));
    chkWriteVer = checkBox(QStringLiteral("chkWriteVer"), QStringLiteral("업무일지에 버전기록"));
    chkVerUpdate = checkBox(QStringLiteral("chkVerUpdate"), QStringLiteral("버전파일 수정"));
    opts->addWidget(chkTestVer, 0, 0);
    opts->addWidget(chkPatchOnly, 0, 1);
    opts->addWidget(chkWriteVer, 1, 0);
    opts->addWidget(chkVerUpdate, 1, 1);
    v->addLayout(opts);

    v->addWidget(new QLabel(QStringLiteral("전송 목적지")));
    lstDest = named(new QListWidget, QStringLiteral("lstDest"));
    lstDest->setSelectionMode(QAbstractItemView::MultiSelection);
    lstDest->setTextElideMode(Qt::ElideMiddle);
    lstDest->setMinimumHeight(90);
    v->addWidget(lstDest, 1);

    chkTestVer->setToolTip(QStringLiteral("테스트 버전: [Distribute_Beta] 목적지, 버전 게시 없음"));
    chkPatchOnly->setToolTip(QStringLiteral("패치 셋업만 만들고 서명하고 보냅니다"));
    chkWriteVer->setToolTip(QStringLiteral("업무일지에 배포 버전을 기록합니다"));
    chkVerUpdate->setToolTip(QStringLiteral("버전파일, 업무일지, 다운로드 목록을 올립니다"));
    lstDest->setToolTip(QStringLiteral("선택한 목적지에 보냅니다"));
    static const char* const modeTips[3] = {"Test버전으로 베타 목적지에 보냅니다", "화요일 정식 배포",
                                            "지금 정식 배포하고 FTP 이름을 바로 바꿉니다"};
    for (int i = 0; i < 3; ++i)
        optWeek[size_t(i)]->setToolTip(QString::fromUtf8(modeTips[i]) + QStringLiteral(" (누르면 시작을 묻습니다)"));
    connect(chkTestVer, &QCheckBox::clicked, this, [this](bool on) { m_desk.setTestVersion(on); });
    connect(chkPatchOnly, &QCheckBox::clicked, this,
            [this](bool on) { m_desk.setOptionBox(m_desk.chkPatchOnly, on); });
    connect(chkWriteVer, &QCheckBox::clicked, this,
            [this](bool on) { m_desk.setOptionBox(m_desk.chkWriteVer, on); });
    connect(chkVerUpdate, &QCheckBox::clicked, this,
            [this](bool on) { m_desk.setOptionBox(m_desk.chkVerUpdate, on); });
    connect(lstDest, &QListWidget::itemSelectionChanged, this, &FrmMain::onDestinationSelectionChanged);
    connect(lstDest, &QListWidget::currentRowChanged, this, &FrmMain::onDestinationSelectionChanged);
    return m_destFrame;
}

QWidget* FrmMain::buildRunBar()
{
    auto* bar = new QWidget;
    auto* v = new QVBoxLayout(bar);
    v->setContentsMargins(0, 4, 0, 0);
    chkEndUnload = checkBox(QStringLiteral("chkEndUnload"), QStringLiteral("전송후 닫기"));
    btnHistory = pushButton(QStringLiteral("btnHistory"), QStringLiteral("실행 기록"));
    btnHistory->setToolTip(QStringLiteral("지난 실행의 로그와 검증 결과"));
    auto* top = new QHBoxLayout;
    top->addWidget(chkEndUnload);
    top->addStretch(1);
    top->addWidget(btnHistory);
    v->addLayout(top);
    auto* h = new QHBoxLayout;
    btnTrans = pushButton(QStringLiteral("btnTrans"), QStringLiteral("시작"));
    btnTrans->setMinimumHeight(40);
    QFont f = btnTrans->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.15);
    btnTrans->setFont(f);
    btnTrans->setDefault(false);
    btnClose = pushButton(QStringLiteral("btnClose"), QStringLiteral("닫기"));
    btnClose->setMinimumHeight(40);
    btnStop = pushButton(QStringLiteral("btnStop"), QStringLiteral("중지"));
    btnStop->setMinimumHeight(40);
    btnStop->setEnabled(false);
    h->addWidget(btnTrans, 2);
    h->addWidget(btnStop, 1);
    h->addWidget(btnClose, 1);
    v->addLayout(h);
    btnHelp = pushButton(QStringLiteral("btnHelp"), QStringLiteral("도움말"));
    top->insertWidget(2, btnHelp);

    btnTrans->setToolTip(QStringLiteral("선택한 프로젝트의 선택한 단계를 시작합니다 (F5, Ctrl+Enter)"));
    btnStop->setToolTip(QStringLiteral("지금 하는 작업 단위가 끝나면 실행을 멈춥니다 (Esc)"));
    btnClose->setToolTip(QStringLiteral("창을 닫습니다. FTP 전송이나 서명 대기 중에는 중단할지 묻습니다"));
    btnHistory->setToolTip(QStringLiteral("지난 실행의 로그와 검증 결과, 로그 폴더, 보고서, 작업 기록 (Ctrl+H)"));
    btnHelp->setToolTip(QStringLiteral("단축키 목록 (F1)"));
    chkEndUnload->setToolTip(QStringLiteral("배포까지 끝나면 창을 닫습니다"));

    connect(chkEndUnload, &QCheckBox::clicked, this, [this](bool on) { m_desk.setEndUnload(on); });
    connect(btnTrans, &QPushButton::clicked, this, [this] { m_desk.btnTrans_Click(); });
    connect(btnStop, &QPushButton::clicked, this, [this] { m_desk.requestStop(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { close(); });
    connect(btnHistory, &QPushButton::clicked, this, &FrmMain::showHistory);
    connect(btnHelp, &QPushButton::clicked, this, &FrmMain::showHelp);
    return bar;
}

QGroupBox* FrmMain::buildLogFrame()
{
    QGroupBox* box = frame(QStringLiteral("fraLog"), QStringLiteral("진행상황"));
    auto* v = new QVBoxLayout(box);
    txtLog = named(new QPlainTextEdit, QStringLiteral("txtLog"));
    txtLog->setReadOnly(true);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono;
    mono.setFamilies({QStringLiteral("NanumGothicCoding"), QStringLiteral("D2Coding"),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("NanumGothic"),
                      QStringLiteral("monospace")});
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPointSizeF(font().pointSizeF());
    txtLog->setFont(mono);
    v->addWidget(txtLog);
    return box;
}

QGroupBox* FrmMain::buildFtpFrame()
{
    m_ftpFrame = frame(QStringLiteral("fraFtp"), QStringLiteral("FTP 전송상태"));
    auto* g = new QGridLayout(m_ftpFrame);
    g->setVerticalSpacing(4);
    lblFileName = named(new QLabel, QStringLiteral("lblFileName"));
    lblFileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFileName->setMinimumWidth(1); // long paths are elided by the layout, not grown into
    lblFileName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lbCelkem = valueLabel(QStringLiteral("lbCelkem"));
    lbFar = valueLabel(QStringLiteral("lbFar"));
    lbLeft = valueLabel(QStringLiteral("lbLeft"));
    lbTime = valueLabel(QStringLiteral("lbTime"));
    lbTimeLeft = valueLabel(QStringLiteral("lbTimeLeft"));
    lbSpeed = valueLabel(QStringLiteral("lbSpeed"));

    int row = 0;
    auto line = [&](const char* caption, QLabel* value, const char* unit) {
        g->addWidget(new QLabel(QString::fromUtf8(caption)), row, 0);
        g->addWidget(value, row, 1);
        if (unit)
            g->addWidget(new QLabel(QString::fromUtf8(unit)), row, 2);
        ++row;
    };
    g->addWidget(new QLabel(QStringLiteral("파일명:")), row, 0);
    g->addWidget(lblFileName, row, 1, 1, 2);
    ++row;
    line("파일크기:", lbCelkem, "bytes");
    line("전송된 크 기:", lbFar, "bytes");
    line("남  은 크 기:", lbLeft, "bytes");
    line("지난시간:", lbTime, nullptr);
    line("남은시간:", lbTimeLeft, nullptr);
    line("전송속도:", lbSpeed, "Kbps");
    ProgressBar1 = named(new QProgressBar, QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(true);
    g->addWidget(ProgressBar1, row++, 0, 1, 3);
    lblFtpError = named(new QLabel, QStringLiteral("lblFtpError"));
    lblFtpError->setWordWrap(true);
    lblFtpError->setStyleSheet(QStringLiteral("color: #c00000;"));
    lblFtpError->setVisible(false);
    lblFtpError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    g->addWidget(lblFtpError, row++, 0, 1, 3);
    g->setColumnStretch(1, 1);

    auto* h = new QHBoxLayout;
    chkFTPAutoRemove = checkBox(QStringLiteral("chkFTPAutoRemove"),
                                QStringLiteral("FTP전송후 이름 변경(_2제거)"));
    btnImdAutoRemove = pushButton(QStringLiteral("btnImdAutoRemove"), QStringLiteral("지금 _2제거"));
    h->addWidget(chkFTPAutoRemove, 1);
    h->addWidget(btnImdAutoRemove);
    chkFTPAutoRemove->setToolTip(QStringLiteral("전송이 끝나면 서버의 파일 이름에서 _2를 뺍니다"));
    btnImdAutoRemove->setToolTip(QStringLiteral("선택한 프로젝트의 서버 파일 이름에서 지금 _2를 뺍니다"));
    g->addLayout(h, row++, 0, 1, 3);
    g->setRowStretch(row, 1);

    connect(chkFTPAutoRemove, &QCheckBox::clicked, this,
            [this](bool on) { m_desk.setOptionBox(m_desk.chkFTPAutoRemove, on); });
    connect(btnImdAutoRemove, &QPushButton::clicked, this, [this] { m_desk.btnImdAutoRemove_Click(); });
    return m_ftpFrame;
}

void FrmMain::connectDesk()
{
    connect(&m_desk, &Desk::changed, this, &FrmMain::refreshFromDesk);
    connect(&m_desk, &Desk::logAppended, this, &FrmMain::refreshLog);
    connect(&m_desk, &Desk::logCleared, this, &FrmMain::refreshLog);
    connect(&m_desk, &Desk::closeRequested, this, [this] {
        if (!m_inCloseEvent)
            close();
    });
    connect(&m_desk.grid, &ProjectGrid::activeCellChanged, this, &FrmMain::onActiveCellChanged);
    connect(&m_desk, &Desk::progressChanged, this, &FrmMain::refreshProgress);
    // "INI 열기" goes to the desktop's application for the file first.
    m_desk.openDocument = [](const QString& path) { return openWithDesktop(path); };
}

// ---------------------------------------------------------------------------
// Desk -> widgets

void FrmMain::refreshFromDesk()
{
    const bool wasRefreshing = m_refreshing;
    m_refreshing = true;
    const Desk& d = m_desk;

    setWindowTitle(d.caption.isEmpty() ? appTitle() : d.caption);

    lblSelCount->setText(QString::number(d.selCount));
    ChkAll->setChecked(d.chkAll.checked);
    ChkAll->setEnabled(d.chkAll.enabled);
    for (int k = 0; k < 8; ++k) {
        const GroupButton& g = d.groups[size_t(k)];
        btnProjGroup[size_t(k)]->setText(g.caption);
        btnProjGroup[size_t(k)]->setToolTip(
            (g.list.isEmpty() ? g.caption
                              : g.caption + QStringLiteral(": ") + g.list
                                    + QStringLiteral("\nCtrl+클릭: 현재 선택에 추가"))
            + QStringLiteral(" (Alt+%1)").arg(k + 1));
        btnProjGroup[size_t(k)]->setEnabled(g.enabled);
    }

    if (cmbSetups->count() != d.setupNames.size()
        || [&] {
               for (int i = 0; i < cmbSetups->count(); ++i)
                   if (cmbSetups->itemText(i) != d.setupNames[i])
                       return true;
               return false;
           }()) {
        cmbSetups->clear();
        cmbSetups->addItems(d.setupNames);
    }
    cmbSetups->setCurrentIndex(d.setupIndex);
    cmbSetups->setEnabled(d.setupsEnabled);

    drawButton(cmdOpenINI, d.cmdOpenINI);
    drawButton(cmdVerUp, d.cmdVerUp);
    drawButton(cmdAllStep, d.cmdAllStep);
    drawButton(btnTrans, d.btnTrans);
    drawButton(btnClose, d.btnClose);
    drawButton(btnSourceMerge, d.btnSourceMerge);
    drawButton(btnImdAutoRemove, d.btnImdAutoRemove);

    for (int i = 0; i < 6; ++i)
        drawBox(chkStep[size_t(i)], d.chkStep[size_t(i)]);
    drawBox(chkTestVer, d.chkTestVer);
    drawBox(chkPatchOnly, d.chkPatchOnly);
    drawBox(chkWriteVer, d.chkWriteVer);
    drawBox(chkVerUpdate, d.chkVerUpdate);
    drawBox(chkEndUnload, d.chkEndUnload);
    drawBox(chkFTPAutoRemove, d.chkFTPAutoRemove);
    drawBox(chkDryRun, d.chkDryRun);

    for (int i = 0; i < 3; ++i) {
        // Exclusive buttons cannot all be cleared one by one.
        optWeek[size_t(i)]->setAutoExclusive(false);
        optWeek[size_t(i)]->setChecked(d.optWeek == i);
        optWeek[size_t(i)]->setAutoExclusive(true);
    }

    refreshDestinations();

    const FtpStatusFrame& f = d.ftpStatus;
    lblFileName->setText(f.fileName);
    lblFileName->setToolTip(f.fileName);
    lbFar->setText(f.far);
    lbLeft->setText(f.left);
    lbCelkem->setText(f.celkem);
    lbTime->setText(f.time);
    lbTimeLeft->setText(f.timeLeft);
    lbSpeed->setText(f.speed);
    ProgressBar1->setRange(0, std::max(0, f.progressMax));
    ProgressBar1->setValue(std::clamp(f.progressValue, 0, std::max(0, f.progressMax)));
    // A failed upload shows in red with its reason until the next file starts.
    QPalette bar;
    if (f.failed)
        bar.setColor(QPalette::Highlight, QColor(200, 0, 0));
    ProgressBar1->setPalette(bar);
    lblFtpError->setVisible(f.failed);
    lblFtpError->setText(f.failed ? QStringLiteral("전송 실패: ") + f.failure : QString());
    btnStop->setEnabled(d.running());

    m_stepFrame->setEnabled(d.stepFrameEnabled);
    m_projectFrame->setEnabled(d.projectFrameEnabled);
    m_destFrame->setEnabled(d.destFrameEnabled);
    m_ftpFrame->setEnabled(d.ftpFrameEnabled);

    refreshLog();
    refreshProgress();
    m_refreshing = wasRefreshing;
}

void FrmMain::refreshDestinations()
{
    const DestinationList& list = m_desk.lstDest;
    bool same = lstDest->count() == list.items.size();
    for (int i = 0; same && i < lstDest->count(); ++i)
        same = lstDest->item(i)->text() == list.items[i];
    if (!same) {
        lstDest->clear();
        for (const QString& item : list.items) {
            auto* it = new QListWidgetItem(item, lstDest);
            it->setToolTip(item);
        }
    }
    for (int i = 0; i < lstDest->count(); ++i)
        lstDest->item(i)->setSelected(i < list.selected.size() && list.selected[i]);
    if (list.current >= 0 && list.current < lstDest->count())
        lstDest->setCurrentRow(list.current, QItemSelectionModel::NoUpdate);
}

void FrmMain::refreshLog()
{
    const QString& text = m_desk.txtLog;
    if (text == m_shownLog)
        return;
    if (!m_shownLog.isEmpty() && text.startsWith(m_shownLog)) {
        QTextCursor c(txtLog->document());
        c.movePosition(QTextCursor::End);
        c.insertText(shownText(text.mid(m_shownLog.size())));
    } else {
        txtLog->setPlainText(shownText(text));
    }
    m_shownLog = text;
    txtLog->verticalScrollBar()->setValue(txtLog->verticalScrollBar()->maximum());
}

void FrmMain::onActiveCellChanged(int col, int row)
{
    if (row < 1 || col < 1 || row > m_model->rowCount() || col > m_model->columnCount())
        return;
    const QModelIndex index = m_model->index(row - 1, col - 1);
    if (spList->currentIndex() == index)
        return;
    const bool wasRefreshing = m_refreshing;
    m_refreshing = true;
    spList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    spList->scrollTo(index);
    m_refreshing = wasRefreshing;
}

// ---------------------------------------------------------------------------
// Widgets -> desk

void FrmMain::onDestinationSelectionChanged()
{
    if (m_refreshing)
        return;
    QList<bool> selected;
    for (int i = 0; i < lstDest->count(); ++i)
        selected.append(lstDest->item(i)->isSelected());
    m_desk.setDestinationSelection(selected, lstDest->currentRow());
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    if (m_desk.closed) { // the desk closed itself (after a distributing run)
        saveWindowState();
        event->accept();
        return;
    }
    m_inCloseEvent = true;
    const bool ok = m_desk.requestClose();
    m_inCloseEvent = false;
    if (ok) {
        saveWindowState();
        event->accept();
    }
    else
        event->ignore();
}

// ---------------------------------------------------------------------------
// The whole run in view

QWidget* FrmMain::buildRunStatus()
{
    auto* bar = named(new QWidget, QStringLiteral("runStatus"));
    auto* h = new QHBoxLayout(bar);
    h->setContentsMargins(0, 2, 0, 0);
    lblStatus = named(new QLabel, QStringLiteral("lblStatus"));
    lblStatus->setMinimumWidth(1);
    lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pgbRun = named(new QProgressBar, QStringLiteral("pgbRun"));
    pgbRun->setFormat(QStringLiteral("%v / %m 작업"));
    pgbRun->setRange(0, 1);
    pgbRun->setValue(0);
    pgbRun->setMaximumWidth(260);
    pgbRun->setToolTip(QStringLiteral("끝난 작업 단위 / 계획된 작업 단위 (단계 × 프로젝트, 모의실행 계획과 같은 단위)"));
    lblRunTime = named(new QLabel, QStringLiteral("lblRunTime"));
    lblRunTime->setToolTip(QStringLiteral("남은 시간은 같은 프로젝트의 지난 실행 보고서의 단계별 소요시간으로 셉니다"));
    h->addWidget(lblStatus, 1);
    h->addWidget(lblRunTime);
    h->addWidget(pgbRun);
    return bar;
}

void FrmMain::refreshProgress()
{
    const RunProgress& p = m_desk.progress;
    if (p.active() && !m_clock->isActive())
        m_clock->start();
    else if (!p.active() && m_clock->isActive())
        m_clock->stop();
    if (!p.active() && p.planned() == 0) {
        lblStatus->setText(QStringLiteral("대기"));
        lblRunTime->clear();
        pgbRun->setTextVisible(false);
        return;
    }
    pgbRun->setTextVisible(true);
    pgbRun->setRange(0, std::max(1, p.planned()));
    pgbRun->setValue(p.done());
    QString status;
    if (p.active())
        status = p.statusText().isEmpty() ? QStringLiteral("시작") : p.statusText();
    else
        status = QStringLiteral("대기 (지난 실행: %1/%2 작업)").arg(p.done()).arg(p.planned());
    if (m_desk.stopRequested && p.active())
        status += QStringLiteral(" — 중지 요청됨");
    lblStatus->setText(status);
    lblStatus->setToolTip(status);
    QString time = QStringLiteral("경과 ") + durationText(p.elapsedMs());
    if (p.active()) {
        const qint64 left = p.remainingMs();
        time += left < 0 ? QStringLiteral(" · 남은 시간: 처음 실행")
                         : QStringLiteral(" · 남은 약 ") + durationText(left);
    }
    lblRunTime->setText(time);
}

// ---------------------------------------------------------------------------
// Keyboard

namespace {

struct ShortcutInfo {
    const char* keys;
    const char* action;
};

const ShortcutInfo kShortcuts[] = {
    {"F5, Ctrl+Enter", "시작"},
    {"Esc", "중지 (실행 중)"},
    {"Ctrl+D", "모의실행 켜기/끄기"},
    {"Ctrl+H", "실행 기록"},
    {"Ctrl+O", "INI 열기"},
    {"Alt+1 … Alt+8", "그룹선택 1 … 8"},
    {"Space, Enter (표에서)", "현재 줄 선택/해제"},
    {"F1", "도움말 (이 목록)"},
};

} // namespace

QString FrmMain::shortcutHelp()
{
    QStringList lines;
    lines << QStringLiteral("단축키");
    for (const ShortcutInfo& s : kShortcuts)
        lines << QString::fromUtf8(s.keys) + QStringLiteral(": ") + QString::fromUtf8(s.action);
    return lines.join(QStringLiteral("\r\n"));
}

void FrmMain::installShortcuts()
{
    auto add = [this](const QKeySequence& keys, const QString& name, auto&& action) {
        auto* sc = new QShortcut(keys, this);
        sc->setObjectName(name);
        sc->setContext(Qt::WindowShortcut);
        connect(sc, &QShortcut::activated, this, action);
    };
    auto start = [this] {
        if (btnTrans->isEnabled())
            btnTrans->click();
    };
    add(QKeySequence(Qt::Key_F5), QStringLiteral("scStart"), start);
    add(QKeySequence(Qt::CTRL | Qt::Key_Return), QStringLiteral("scStartReturn"), start);
    add(QKeySequence(Qt::CTRL | Qt::Key_Enter), QStringLiteral("scStartEnter"), start);
    add(QKeySequence(Qt::Key_Escape), QStringLiteral("scStop"), [this] {
        if (btnStop->isEnabled())
            btnStop->click();
    });
    add(QKeySequence(Qt::CTRL | Qt::Key_D), QStringLiteral("scDryRun"), [this] {
        if (chkDryRun->isEnabled() && chkDryRun->isVisibleTo(this) && m_stepFrame->isEnabled())
            chkDryRun->click();
    });
    add(QKeySequence(Qt::CTRL | Qt::Key_H), QStringLiteral("scHistory"), [this] { btnHistory->click(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_O), QStringLiteral("scOpenIni"), [this] {
        if (cmdOpenINI->isEnabled())
            cmdOpenINI->click();
    });
    add(QKeySequence(Qt::Key_F1), QStringLiteral("scHelp"), [this] { showHelp(); });
    for (int k = 0; k < 8; ++k)
        add(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_1 + k)), QStringLiteral("scGroup%1").arg(k + 1), [this, k] {
            DeskButton* b = btnProjGroup[size_t(k)];
            if (b->isEnabled() && m_projectFrame->isEnabled())
                b->click();
        });
}

void FrmMain::setTabOrderByLayout()
{
    QList<QWidget*> order{cmbSetups, cmdOpenINI, cmdVerUp, btnSourceMerge, ChkAll};
    for (DeskButton* b : btnProjGroup)
        order << b;
    order << spList;
    for (int box : {StepRun, StepCompile, StepBuildSign, StepSetup, StepSetupSign, StepDistribute})
        order << chkStep[size_t(box)];
    order << chkDryRun << cmdAllStep;
    for (QRadioButton* r : optWeek)
        order << r;
    order << chkTestVer << chkPatchOnly << chkWriteVer << chkVerUpdate << lstDest << chkEndUnload << btnHelp
          << btnHistory << btnTrans << btnStop << btnClose << txtLog << chkFTPAutoRemove << btnImdAutoRemove;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void FrmMain::showHelp()
{
    interaction().tell(shortcutHelp(), QStringLiteral("도움말"), MsgIcon::Information);
}

void FrmMain::showHistory()
{
    auto* history = new FrmHistory(outputFolder() + QStringLiteral("/logs"), this);
    history->setAttribute(Qt::WA_DeleteOnClose);
    history->resume = [this, history](const QString& journalPath) {
        if (m_desk.running())
            return;
        QString error;
        const std::optional<ResumeSource> src = findResumeSource(outputFolder() + QStringLiteral("/logs"), journalPath, &error);
        const auto clock = m_desk.now;
        if (src) {
            setResumeClock(m_desk, *src);
            if (applyResume(m_desk, *src, &error)) {
                history->close();
                armResume(m_desk, *src);
                m_desk.btnTrans_Click();
                disarmResume(m_desk);
                m_desk.now = clock;
                return;
            }
            m_desk.now = clock;
        }
        interaction().tell(error, QStringLiteral("이어하기"), MsgIcon::Exclamation);
    };
    history->open();
}

// ---------------------------------------------------------------------------
// Window state, per user

namespace {

QString windowKey(const char* name)
{
    return QStringLiteral("Window/") + QLatin1String(name);
}

} // namespace

void FrmMain::saveWindowState() const
{
    const QString path = userSettingsFile(appTitle());
    ensureOwnerOnlyFile(path);
    QSettings s(path, QSettings::IniFormat);
    s.setValue(windowKey("geometry"), saveGeometry());
    s.setValue(windowKey("mainSplitter"), m_mainSplitter->saveState());
    s.setValue(windowKey("upperSplitter"), m_upperSplitter->saveState());
    s.setValue(windowKey("lowerSplitter"), m_lowerSplitter->saveState());
    s.setValue(windowKey("gridColumns"), spList->horizontalHeader()->saveState());
    s.sync();
}

void FrmMain::restoreWindowState()
{
    const QSettings s(userSettingsFile(appTitle()), QSettings::IniFormat);
    // A state that does not fit (another screen, an older layout) is ignored
    // by Qt and the defaults stay.
    const QByteArray geometry = s.value(windowKey("geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    m_mainSplitter->restoreState(s.value(windowKey("mainSplitter")).toByteArray());
    m_upperSplitter->restoreState(s.value(windowKey("upperSplitter")).toByteArray());
    m_lowerSplitter->restoreState(s.value(windowKey("lowerSplitter")).toByteArray());
    const QByteArray columns = s.value(windowKey("gridColumns")).toByteArray();
    if (!columns.isEmpty())
        spList->horizontalHeader()->restoreState(columns);
}

} // namespace rh
