#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <memory>

class QCloseEvent;

namespace Ui {
class frmReporStatus;
}

// The report window: the import report that the action log appends to while "Log Actions" is
// checked, under a toolbar that saves it as an RTF file or closes the window.
//
// The window is a top-level window even with a parent (the parent's end closes it too), and it
// deletes itself when closed, discarding the report: create it with new and hold it in a
// QPointer. It starts hidden and empty; showing it is the caller's business.
class frmReporStatus : public QWidget {
    Q_OBJECT
  public:
    explicit frmReporStatus(QWidget* parent = nullptr);
    ~frmReporStatus() override;

    // Appends `line` and a line end to the report. CR LF, a lone CR and a lone LF inside `line`
    // break it into several lines, so a line ending in CR LF leaves an empty line after it.
    // Costs the same however long the report already is: lines arriving in quick succession
    // reach the text box together, at most kFlushIntervalMs later, so a fast import is not
    // slowed by redrawing the report for every line. Reading the report flushes first.
    void AppendLine(const QString& line);

    static constexpr int kFlushIntervalMs = 30;

    // Puts the lines not yet shown into the text box and redraws it at once, so that the last
    // line is on screen before something else claims the user's attention.
    void ShowPending();

    // The report as text: every line followed by "\r\n"; empty before the first line.
    QString ReportText() const;
    // The report's lines, without line ends.
    QStringList ReportLines() const;

  signals:
    // The window is closing (the Close tool, the window's own close button, the program's end):
    // it goes, with its report, once control returns to the event loop.
    void Closed();

  public slots:
    // A tool of the toolbar was clicked, named by its object name: "catFSave" saves the report,
    // "catFClose" closes the window; "catFPrint", "Tool1" and any other name do nothing.
    void ActiveBar31_ToolClick(const QString& toolName);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Asks for a file name ("Tovrin Import Report" in the program's folder is proposed) and
    // writes the report there as RTF. Any failure, Cancel included, ends in a message box
    // showing the error's number and description; the report is never changed.
    void SaveReport();
    // Writes the report as RTF to `path`, raising what SaveRtfText raises. The text is taken at
    // once; turning it into RTF and writing it (seconds, for a report of a million lines) run
    // in a thread of their own while the windows go on redrawing under a busy cursor. What the
    // user types or clicks meanwhile waits, so nothing changes or closes the report under it.
    void WriteReport(const QString& path);
    // Moves the lines not yet shown into the text box, in one insertion at its end.
    void FlushPending() const;
    // Ends a change of the text box's measure: back to the end if the report followed it.
    void SettleScroll();

    std::unique_ptr<Ui::frmReporStatus> ui_;
    mutable QString pending_;  // appended lines not yet in the text box, each ending in '\n'
    QTimer* flushTimer_;
    bool followingEnd_ = true;  // the user leaves the text box at the end of the report
    bool settling_ = false;     // the text box is measuring its lines anew
};
