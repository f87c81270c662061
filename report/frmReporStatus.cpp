#include "report/frmReporStatus.h"

#include <QAction>
#include <QFont>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

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
    QScrollBar* bar = ui_->txtMessage->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(ui_->txtMessage->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(pending_);
    pending_.clear();
    if (following) {
        bar->setValue(bar->maximum());
    }
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
    QStringList lines;
    const QTextDocument* document = ui_->txtMessage->document();
    // The last block is the empty place after the last line end, not a line.
    for (QTextBlock block = document->begin(); block != document->lastBlock();
         block = block.next()) {
        lines << block.text();
    }
    return lines;
}

void frmReporStatus::ActiveBar31_ToolClick(const QString& toolName) {
    if (toolName == QLatin1String("catFSave")) {
        SaveReport();
    } else if (toolName == QLatin1String("catFClose")) {
        close();
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
        const QString path = ui::GetSaveFileName(options, this);
        SaveRtfFile(path, ReportLines());
    } catch (const AppError& error) {
        ui::MsgBox(ErrorText(error), ui::MsgButtons::kOk, ui::MsgIcon::kNone, this);
    }
}
