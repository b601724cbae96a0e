#pragma once
// "실행 기록": past runs from their reports, newest first; choosing one shows
// its log and its verification table.
#include "app/runhistory.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace rh {

class RunChart;

class FrmHistory : public QDialog {
    Q_OBJECT
public:
    explicit FrmHistory(const QString& logsFolder, QWidget* parent = nullptr);

    QTableWidget* runs = nullptr;
    QPlainTextEdit* log = nullptr;
    QTableWidget* checks = nullptr;
    RunChart* chart = nullptr;
    QComboBox* cmbResult = nullptr;   // filter: 전체, 완료, 중단, ...
    QPushButton* btnOpenFolder = nullptr;
    QPushButton* btnOpenReport = nullptr;
    QPushButton* btnOpenJournal = nullptr;
    // 이어하기: enabled for a run that did not finish; hands its journal's
    // path to `resume` (installed by the main window).
    QPushButton* btnResume = nullptr;
    std::function<void(const QString& journalPath)> resume;
    // Opens a file or folder (default: the desktop's application); false when
    // nothing could open it, which the dialog then tells with the path.
    std::function<bool(const QString& path)> opener;

    // The run shown (its place in the list), -1 for none.
    int currentRun() const;
    void selectRun(int index);
    // Shows only runs whose result has this text ("" for all).
    void filterByResult(const QString& result);

private:
    void showRun(int index);
    // The journal of a run that can be resumed, else empty.
    QString resumableJournal(int index) const;
    void openPath(const QString& path);

    QList<RunHistoryEntry> m_entries;
    QString m_logsFolder;
};

} // namespace rh
