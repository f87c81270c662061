#include "tests/fake_host.h"

void FakeHost::SetStatus(const QString& text) {
    status = text;
    events << "status: " + text;
}

void FakeHost::SetEquipment(const QString& text) {
    equipment = text;
}

void FakeHost::AppendReportLine(const QString& line) {
    report += line + "\r\n";
}

void FakeHost::ShowReport() {
    ++reportShown;
    events << "showReport";
}

void FakeHost::MessageBox(const QString& text) {
    messages << text;
    events << "message: " + text;
}

bool FakeHost::AskYesNo(const QString& text) {
    questions << text;
    events << "question: " + text;
    if (answers.empty()) {
        return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool FakeHost::SelectManufacturer(SessionState& session) {
    ++selections;
    events << "select: " + session.sManuID;
    return onSelectManufacturer ? onSelectManufacturer(session) : true;
}

void FakeHost::ProcessEvents() {
    ++processEventsCalls;
    if (onProcessEvents) {
        onProcessEvents();
    }
}

void FakeHost::SetFileCountText(const QString& text) {
    fileCountText = text;
    events << "fileCount: " + text;
}

void FakeHost::SetProgressMaximum(int maximum) {
    progressMaximum = maximum;
    events << "progressMax: " + QString::number(maximum);
}

void FakeHost::SetProgressValue(int value) {
    progressValue = value;
    events << "progress: " + QString::number(value);
}

void FakeHost::SetCancelEnabled(bool enabled) {
    cancelEnabled = enabled;
    events << QString("cancelEnabled: %1").arg(enabled ? "true" : "false");
}

void FakeHost::SetRunActive(bool active) {
    runActive = active;
    events << QString("runActive: %1").arg(active ? "true" : "false");
}

QStringList FakeHost::ReportLines() const {
    QStringList lines = report.split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

void FakeHost::WaitingForDatabase(bool on) {
    waiting = on;
    events << QString("waiting: %1").arg(on ? "on" : "off");
}
