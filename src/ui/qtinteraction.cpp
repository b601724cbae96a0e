#include "ui/qtinteraction.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace rh {
namespace {

QMessageBox::Icon toIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// Message texts keep the CR LF line breaks of the original; a box shows "\n".
QString boxText(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

// A message box during a run must not show the hourglass over its buttons.
class ArrowWhileOpen {
public:
    ArrowWhileOpen() : m_active(QApplication::overrideCursor() != nullptr)
    {
        if (m_active)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileOpen()
    {
        if (m_active)
            QApplication::restoreOverrideCursor();
    }

private:
    bool m_active;
};

// A message box is as wide as its text; a short text with a long title
// would have the window manager cut the title ("Roll...ven2"). A spacer in
// the box's grid keeps it at least as wide as the title needs.
void fitTitle(QMessageBox& box, const QString& title)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    // Room for the title bar's icon and buttons beside the text.
    const int width = QFontMetrics(titleFont).horizontalAdvance(title) + 160;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

QtInteraction::QtInteraction()
{
    setInteraction(this);
}

QtInteraction::~QtInteraction()
{
    endProgress();
    setBusy(false);
    if (&interaction() == this)
        setInteraction(nullptr);
}

QWidget* QtInteraction::dialogParent()
{
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    return QApplication::activeWindow();
}

void QtInteraction::logLine(const QString&)
{
    // The window shows the line through the desk's logAppended signal.
    pumpEvents();
}

void QtInteraction::pumpEvents()
{
    QCoreApplication::processEvents();
}

bool QtInteraction::askYesNo(const QString& text, const QString& title, MsgIcon icon, bool defaultNo)
{
    ArrowWhileOpen arrow;
    QMessageBox box(toIcon(icon), title, boxText(text), QMessageBox::Yes | QMessageBox::No,
                    dialogParent());
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    fitTitle(box, title);
    return box.exec() == QMessageBox::Yes;
}

void QtInteraction::tell(const QString& text, const QString& title, MsgIcon icon)
{
    ArrowWhileOpen arrow;
    QMessageBox box(toIcon(icon), title, boxText(text), QMessageBox::Ok, dialogParent());
    fitTitle(box, title);
    box.exec();
}

void QtInteraction::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool QtInteraction::showProgress(const QString& title, const QString& text, qint64 done, qint64 total)
{
    if (!m_progress) {
        m_progress = new QProgressDialog(dialogParent());
        m_progress->setWindowModality(Qt::WindowModal);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setMinimumDuration(0);
        m_progress->setCancelButtonText(QStringLiteral("취소"));
    }
    // The bar counts in ints; large totals are shown in steps of a thousandth.
    const bool scaled = total > 0x7fffffff;
    const int max = total <= 0 ? 0 : scaled ? 1000 : int(total);
    const int value = total <= 0 ? 0 : scaled ? int(done * 1000 / total) : int(std::min(done, total));
    m_progress->setWindowTitle(title);
    m_progress->setLabelText(boxText(text));
    m_progress->setRange(0, max);
    m_progress->setValue(value);
    QCoreApplication::processEvents();
    return !m_progress->wasCanceled();
}

void QtInteraction::endProgress()
{
    if (m_progress) {
        m_progress->close();
        delete m_progress.data();
    }
}

} // namespace rh
