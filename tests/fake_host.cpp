#include "tests/fake_host.h"

bool FakeHost::AskYesNo(const QString& text) {
    questions << text;
    if (answers.empty()) {
        return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool FakeHost::SelectManufacturer(SessionState& session, db::Database&) {
    ++selections;
    return onSelectManufacturer ? onSelectManufacturer(session) : true;
}

void FakeHost::ProcessEvents() {
    if (onProcessEvents) {
        onProcessEvents();
    }
}

QStringList FakeHost::ReportLines() const {
    return report.isEmpty() ? QStringList() : report.chopped(2).split("\r\n");
}
