#pragma once
// "실행 기록": past runs from their reports, newest first; choosing one shows
// its log and its verification table.
#include "app/runhistory.h"

#include <QDialog>

class QPlainTextEdit;
class QTableWidget;

namespace rh {

class FrmHistory : public QDialog {
    Q_OBJECT
public:
    explicit FrmHistory(const QString& logsFolder, QWidget* parent = nullptr);

    QTableWidget* runs = nullptr;
    QPlainTextEdit* log = nullptr;
    QTableWidget* checks = nullptr;

private:
    void showRun(int index);

    QList<RunHistoryEntry> m_entries;
};

} // namespace rh
