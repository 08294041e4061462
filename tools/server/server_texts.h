// What qelt-server answers a launcher: short UTF-8 texts the registration window shows.
#pragma once

inline constexpr char kAnswerRegistered[] = "Đăng ký thành công! Bạn có thể vào game ngay.";
inline constexpr char kAnswerTaken[] = "Tài khoản đã có người dùng, hãy chọn tên khác.";
inline constexpr char kAnswerBadForm[] = "Yêu cầu đăng ký không hợp lệ.";
inline constexpr char kAnswerBadText[] = "Dữ liệu phải là chữ UTF-8, không có ký tự điều khiển.";
inline constexpr char kAnswerLongEmail[] = "Email tối đa 60 ký tự.";
inline constexpr char kAnswerTooLarge[] = "Yêu cầu quá lớn.";
inline constexpr char kAnswerTooMany[] = "Bạn đăng ký quá nhiều lần, hãy thử lại sau ít phút.";
inline constexpr char kAnswerUnavailable[] =
    "Máy chủ tạm thời không lưu được tài khoản, hãy thử lại sau.";
inline constexpr char kAnswerBusy[] = "Máy chủ đang bận, hãy thử lại sau.";
inline constexpr char kAnswerNotFound[] = "Không tìm thấy.";
inline constexpr char kAnswerBadRequest[] = "Yêu cầu không hợp lệ.";
