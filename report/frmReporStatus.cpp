#include "report/frmReporStatus.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <exception>

#include "core/error.h"
#include "core/platform.h"
#include "core/windowing.h"
#include "report/rtf_writer.h"
#include "ui_frmReporStatus.h"

namespace {

// The report's face; the fallbacks stand in on systems that lack it, at the same size.
QFont ReportFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.5);
    return font;
}

}  // namespace

frmReporStatus::frmReporStatus(QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::frmReporStatus>()) {
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushIntervalMs);
    connect(flushTimer_, &QTimer::timeout, this, [this] { FlushPending(); });

    // The text box shows the end of the report while the user leaves it there. Each time the
    // box measures its lines anew (lines arrive, a long line wraps once it is drawn, the window
    // is resized) it first keeps its top line and so moves off the end; once it has settled, a
    // report that showed its end is moved back there. Only the user's own scrolling, outside
    // those moments, changes whether it follows the end.
    QScrollBar* bar = ui_->txtMessage->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!settling_) {
            followingEnd_ = value == bar->maximum();
        }
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this] {
        if (!settling_) {
            settling_ = true;
            QTimer::singleShot(0, this, &frmReporStatus::SettleScroll);
        }
    });

    ui_->txtMessage->setFont(ReportFont());
    ui_->txtMessage->setTabStopDistance(ui_->txtMessage->logicalDpiX() / 2.0);

    connect(ui_->ActiveBar31, &QToolBar::actionTriggered, this,
            [this](QAction* tool) { ActiveBar31_ToolClick(tool->objectName()); });
    connect(ui_->Tool1, &QAction::triggered, this,
            [this] { ActiveBar31_ToolClick(ui_->Tool1->objectName()); });
}

frmReporStatus::~frmReporStatus() = default;

void frmReporStatus::AppendLine(const QString& line) {
    pending_.reserve(pending_.size() + line.size() + 1);
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == '\r') {
            pending_ += '\n';
            if (i + 1 < line.size() && line.at(i + 1) == '\n') {
                ++i;
            }
        } else {
            pending_ += c;
        }
    }
    pending_ += '\n';
    if (!flushTimer_->isActive()) {
        flushTimer_->start();
    }
}

void frmReporStatus::FlushPending() const {
    flushTimer_->stop();
    if (pending_.isEmpty()) {
        return;
    }
    // Inserting at the end keeps the cost of a line flat; the document therefore always ends
    // in one empty block, the place after the last line end.
    QTextCursor cursor(ui_->txtMessage->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(pending_);
    pending_.clear();
}

void frmReporStatus::SettleScroll() {
    settling_ = false;
    QScrollBar* bar = ui_->txtMessage->verticalScrollBar();
    if (followingEnd_) {
        bar->setValue(bar->maximum());
    }
}

void frmReporStatus::ShowPending() {
    FlushPending();
    SettleScroll();
    ui_->txtMessage->viewport()->repaint();
}

QString frmReporStatus::ReportText() const {
    QString text;
    for (const QString& line : ReportLines()) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

QStringList frmReporStatus::ReportLines() const {
    FlushPending();
    // One pass over the whole text: every line end became a block separator, so no line holds
    // one. The last block is the empty place after the last line end, not a line.
    QStringList lines = ui_->txtMessage->document()->toRawText().split(QChar::ParagraphSeparator);
    lines.removeLast();
    return lines;
}

void frmReporStatus::WriteReport(const QString& path) {
    FlushPending();
    QString text = ui_->txtMessage->document()->toRawText();
    std::exception_ptr failure;
    std::unique_ptr<QThread> writer(QThread::create([&path, &text, &failure] {
        try {
            // Every line end became a block separator; as line ends again they make the text.
            text.replace(QChar::ParagraphSeparator, u'\n');
            SaveRtfText(path, text);
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QEventLoop waiting;
    connect(writer.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    writer->start();
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    writer->wait();
    QApplication::restoreOverrideCursor();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void frmReporStatus::ActiveBar31_ToolClick(const QString& toolName) {
    if (toolName == QLatin1String("catFSave")) {
        SaveReport();
    } else if (toolName == QLatin1String("catFClose")) {
        close();
    }
}

void frmReporStatus::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) {
        emit Closed();
    }
}

void frmReporStatus::SaveReport() {
    try {
        ui::SaveDialogOptions options;
        options.title = "Save Report RTF File";
        options.filter = "Rich Text Files|*.rtf";
        options.initialName = "Tovrin Import Report";
        options.initialFolder = platform::AppFolder();
        options.overwritePrompt = true;
        WriteReport(ui::GetSaveFileName(options, this));
    } catch (const AppError& error) {
        ui::MsgBox(ErrorText(error), ui::MsgButtons::kOk, ui::MsgIcon::kNone, this);
    }
}
