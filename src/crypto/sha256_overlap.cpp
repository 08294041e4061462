// Sha256Overlap: one thread per digest, started only once a stream needs more than one
// buffer (a small file is hashed where it is read), woken by an event per buffer.
#include "crypto/sha256_overlap.h"

#include <windows.h>

namespace {

DWORD WINAPI HashThread(LPVOID param) {
    Sha256Overlap* hash = static_cast<Sha256Overlap*>(param);
    for (;;) {
        WaitForSingleObject(hash->Work, INFINITE);
        if (hash->Stop) {
            return 0;
        }
        if (!Sha256Add(&hash->Hash, hash->Data, hash->Length)) {
            hash->Failed = true;
        }
        SetEvent(hash->Idle);
    }
}

void WaitIdle(Sha256Overlap* hash) {
    if (hash->Busy) {
        WaitForSingleObject(hash->Idle, INFINITE);
        hash->Busy = false;
    }
}

void CloseEvents(Sha256Overlap* hash) {
    if (hash->Work != nullptr) {
        CloseHandle(hash->Work);
    }
    if (hash->Idle != nullptr) {
        CloseHandle(hash->Idle);
    }
    hash->Work = nullptr;
    hash->Idle = nullptr;
}

bool StartThread(Sha256Overlap* hash) {
    hash->Work = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    hash->Idle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (hash->Work != nullptr && hash->Idle != nullptr) {
        hash->Thread = CreateThread(nullptr, 0, HashThread, hash, 0, nullptr);
    }
    if (hash->Thread == nullptr) {
        CloseEvents(hash);
        return false;
    }
    return true;
}

// Ends the thread once it has hashed what it was given; afterwards the hash is used here.
void StopThread(Sha256Overlap* hash) {
    WaitIdle(hash);
    if (hash->Thread != nullptr) {
        hash->Stop = true;
        SetEvent(hash->Work);
        WaitForSingleObject(hash->Thread, INFINITE);
        CloseHandle(hash->Thread);
        hash->Thread = nullptr;
        CloseEvents(hash);
    }
}

} // namespace

bool Sha256OverlapBegin(Sha256Overlap* hash) {
    *hash = Sha256Overlap();
    return Sha256Begin(&hash->Hash);
}

void Sha256OverlapHand(Sha256Overlap* hash, const void* data, size_t length) {
    WaitIdle(hash);
    if (hash->Thread == nullptr && !StartThread(hash)) {
        hash->Failed = hash->Failed || !Sha256Add(&hash->Hash, data, length);
        return;
    }
    hash->Data = data;
    hash->Length = length;
    hash->Busy = true;
    SetEvent(hash->Work);
}

bool Sha256OverlapFinish(Sha256Overlap* hash, const void* last, size_t lastLength,
                         unsigned char digest[kSha256DigestSize]) {
    StopThread(hash);
    if (hash->Failed || !Sha256Add(&hash->Hash, last, lastLength)) {
        Sha256Abandon(&hash->Hash);
        return false;
    }
    return Sha256Finish(&hash->Hash, digest);
}

void Sha256OverlapAbandon(Sha256Overlap* hash) {
    StopThread(hash);
    Sha256Abandon(&hash->Hash);
}
