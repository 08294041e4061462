// Files the launcher keeps about itself in its own folder. They are not client files: a
// manifest entry never overwrites one, and the publisher leaves them out of a publish.
#pragma once

// What the quick check knows of each client file it has verified or written.
constexpr char kQuickCheckRecordName[] = "qelt-check.dat";
// The sequence number of the last signed file list this launcher accepted.
constexpr char kUpdateSequenceName[] = "qelt-sequence.dat";

// True when a manifest path (either separator) names one of those files at the top of the
// launcher's folder, in any letter case, as Windows would find it.
bool IsLauncherStateFile(const char* path);
