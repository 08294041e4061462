// A recorder linked in place of the real window operations: tests read back every text,
// position, button call and close request, in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class WindowOp { Status, Progress, Connect, Register, Close };

struct RecordedOp {
    WindowOp Op;
    std::string Text; // Status
    int Value;        // Progress position, or 1/0 for the enabling calls
};

// What the recorder's StartUpdateWorker answers (it never starts a thread); true unless a
// test sets it.
extern bool g_WorkerStartSucceeds;

// Called with each call as it is recorded, on the calling thread and outside the
// recorder's lock, so that a test can act at a chosen moment of a run or hold the caller
// there. Set it only while no other thread makes calls; empty by default.
extern std::function<void(const RecordedOp&)> g_OnRecorded;

std::vector<RecordedOp> RecordedOps();
void ClearRecordedOps();

// Readable one-line forms ("status:...", "progress:50", "connect:1", "close") for
// comparing whole sequences in assertions.
std::vector<std::string> RecordedOpLines();
