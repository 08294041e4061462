// The fixed texts the transfer layer puts on the wire.
#pragma once

constexpr wchar_t kUserAgent[] = L"QeltLauncher";
constexpr wchar_t kFormContentTypeHeader[] = L"Content-Type: application/x-www-form-urlencoded\r\n";
