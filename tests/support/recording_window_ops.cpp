// Recording window operations for the Win32 tests.
#include "recording_window_ops.h"

#include <windows.h>

#include "app/update_worker_start.h"
#include "ui/window_ops.h"

namespace {

struct Recorder {
    CRITICAL_SECTION lock;
    std::vector<RecordedOp> ops;
    Recorder() { InitializeCriticalSection(&lock); }
};

Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

void Record(WindowOp op, const char* text, int value) {
    Recorder& r = TheRecorder();
    const RecordedOp recorded{op, text ? text : "", value};
    EnterCriticalSection(&r.lock);
    r.ops.push_back(recorded);
    LeaveCriticalSection(&r.lock);
    if (g_OnRecorded) {
        g_OnRecorded(recorded);
    }
}

} // namespace

bool g_WorkerStartSucceeds = true;
std::function<void(const RecordedOp&)> g_OnRecorded;

void SetStatus(const char* text) {
    Record(WindowOp::Status, text, 0);
}
void SetProgress(int position) {
    Record(WindowOp::Progress, nullptr, position);
}
void EnableConnect(bool enabled) {
    Record(WindowOp::Connect, nullptr, enabled ? 1 : 0);
}
void EnableRegister(bool enabled) {
    Record(WindowOp::Register, nullptr, enabled ? 1 : 0);
}
void RequestClose() {
    Record(WindowOp::Close, nullptr, 0);
}
// Every call is recorded at once, so nothing waits for the main thread.
void ResetWindowOps() {}
void ApplyPendingWindowOps() {}
void ApplyDeferredWindowOps() {}
// No worker: a test that creates the main window owns every change of the window.
bool StartUpdateWorker() {
    return g_WorkerStartSucceeds;
}

std::vector<RecordedOp> RecordedOps() {
    Recorder& r = TheRecorder();
    EnterCriticalSection(&r.lock);
    std::vector<RecordedOp> copy = r.ops;
    LeaveCriticalSection(&r.lock);
    return copy;
}

void ClearRecordedOps() {
    Recorder& r = TheRecorder();
    EnterCriticalSection(&r.lock);
    r.ops.clear();
    LeaveCriticalSection(&r.lock);
}

std::vector<std::string> RecordedOpLines() {
    std::vector<std::string> lines;
    for (const RecordedOp& op : RecordedOps()) {
        switch (op.Op) {
        case WindowOp::Status: lines.push_back("status:" + op.Text); break;
        case WindowOp::Progress: lines.push_back("progress:" + std::to_string(op.Value)); break;
        case WindowOp::Connect: lines.push_back("connect:" + std::to_string(op.Value)); break;
        case WindowOp::Register: lines.push_back("register:" + std::to_string(op.Value)); break;
        case WindowOp::Close: lines.push_back("close"); break;
        }
    }
    return lines;
}
