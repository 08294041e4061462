// Every text the update run shows on the status line (8-bit Vietnamese without
// diacritics), in one place so tests can refer to them.
#pragma once

// Update worker
constexpr char kTextAutoUpdateOff[] = "Auto update: da tat";
constexpr char kTextCheckingForUpdates[] = "Dang kiem tra cap nhat...";
constexpr char kTextUpdateServerUnreachable[] =
    "Khong ket noi duoc update server - dung file hien tai";
constexpr char kTextClientUpToDate[] = "Client da moi nhat";
constexpr char kFormatUpdatedFiles[] = "Da cap nhat %d file";
constexpr char kTextUpdateCouldNotRun[] = "Khong chay duoc cap nhat - dung file hien tai";
// With UpdateKey: no list, a bad or missing signature, another key, an older sequence.
constexpr char kTextUnsignedUpdate[] = "Cap nhat khong co chu ky hop le - dung file hien tai";

// Patch loop
constexpr char kFormatCheckingFile[] = "Dang kiem tra %s (%d/%d)";
constexpr char kFormatPatchLabel[] = "%s (%d/%d)";
constexpr char kFormatDownloadFailed[] = "Tai that bai: %s";
constexpr char kFormatWriteFailed[] = "Khong ghi duoc file: %s";

// Launcher self-update
constexpr char kTextSelfUpdateAlreadyRestarted[] =
    "Launcher vua cap nhat nhung CRC van lech - bo qua";
constexpr char kTextSelfUpdatePathTooLong[] = "Duong dan launcher qua dai de tu cap nhat";
constexpr char kTextSelfUpdateDamaged[] =
    "Ban launcher tren server bi loi - bo qua cap nhat launcher";
constexpr char kTextSelfUpdateWriteFailed[] = "Khong ghi duoc ban launcher moi";
constexpr char kTextSelfUpdateReplaceFailed[] = "Khong thay duoc launcher - thu muc khong cho ghi?";
constexpr char kTextSelfUpdateRestarting[] = "Da cap nhat launcher - dang khoi dong lai...";
constexpr char kTextSelfUpdateRestartByHand[] = "Da cap nhat launcher - mo lai bang tay";

// First-run game data package
constexpr char kGameDataPackageName[] = "Qelt-Data.exe";
constexpr char kGameDataLabel[] = "du lieu game";
constexpr char kTextGameDataDownloading[] = "Lan dau chay: dang tai du lieu game...";
constexpr char kTextGameDataDownloadFailed[] =
    "Khong tai duoc du lieu game - kiem tra UpdateUrl trong Launcher.ini";
constexpr char kTextGameDataWriteFailed[] = "Khong ghi duoc goi du lieu game";
constexpr char kTextGameDataExtracting[] = "Dang giai nen du lieu game...";
constexpr char kTextGameDataStartFailed[] = "Khong chay duoc goi du lieu game";
constexpr char kTextGameDataTooSlow[] = "Giai nen du lieu game qua lau - da huy";
constexpr char kTextGameDataFailed[] = "Giai nen du lieu game that bai";

// Server status probe
constexpr char kTextServerOnline[] = "Server dang online - san sang vao game";
constexpr char kTextServerOffline[] = "Server offline - chua ket noi duoc";

// Server paths below UpdateUrl
constexpr char kFormatManifestUrl[] = "%s/launcher/manifest.txt";
constexpr char kFormatStatusUrl[] = "%s/launcher/status";
constexpr char kFormatPatchUrl[] = "%s/patch/%s";
constexpr char kFormatDownloadsUrl[] = "%s/downloads/%s";
