#include "flx/flx_file.h"

namespace flx {
namespace {

// The reading asks whether to go on after this many lines, or after a line this long.
constexpr std::int64_t kLinesBetweenAsks = 4096;
constexpr qsizetype kLongLine = 64 * 1024;

// The section state machine: marker lines open and close sections, and every other line is
// kept or left by the section it is in and its number counted from the section's marker.
class Sections {
  public:
    explicit Sections(File& file) : file_(file) {}

    void Line(std::int64_t number, QString text) {
        if (text == kStartDef || text == kStartBlk) {
            Section section;
            section.kind = text == kStartDef ? Section::Kind::kDefinition : Section::Kind::kBlock;
            section.line = number;
            file_.sections.push_back(std::move(section));
            current_ = &file_.sections.back();
            lineInSection_ = 0;
            return;
        }
        if (text == kEndBlk) {
            current_ = nullptr;
            lineInSection_ = 0;
            return;
        }
        ++lineInSection_;
        if (current_ == nullptr) {
            return;
        }
        if (current_->kind == Section::Kind::kDefinition) {
            if (lineInSection_ <= 3) {
                current_->header.push_back(
                    {static_cast<HeaderField>(lineInSection_), std::move(text), number});
            }
        } else if (lineInSection_ >= 2) {
            current_->connectors.push_back({CutConnectorLine(text), number});
        }
    }

    // Reading failed: the section under way is not whole.
    void Failed() {
        if (current_ != nullptr) {
            current_->complete = false;
        }
    }

  private:
    File& file_;
    Section* current_ = nullptr;
    std::int64_t lineInSection_ = 0;
};

}  // namespace

std::optional<File> ReadFile(const QString& path, const std::function<bool()>& keepGoing) {
    LineReader reader(path);
    File file;
    Sections sections(file);
    std::int64_t number = 0;
    try {
        while (!reader.AtEnd()) {
            QString line = reader.ReadLine();
            ++number;
            const bool ask = number % kLinesBetweenAsks == 0 || line.size() >= kLongLine;
            sections.Line(number, std::move(line));
            if (ask && keepGoing && !keepGoing()) {
                return std::nullopt;
            }
        }
    } catch (const AppError& error) {
        sections.Failed();
        file.error = error;
    }
    return file;
}

}  // namespace flx
