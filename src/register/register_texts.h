// Texts of the registration window and its submission: precomposed UTF-16, shown exactly
// as written.
#pragma once

inline constexpr char16_t kRegisterCaption[] = u"Đăng ký tài khoản";
inline constexpr char16_t kRegisterHint[] =
    u"Tài khoản 4-10 ký tự chữ và số, mật khẩu 6-10 ký tự không dấu.";
inline constexpr char16_t kRegisterSubmitLabel[] = u"Đăng ký";
inline constexpr char16_t kRegisterCancelLabel[] = u"Hủy";
inline constexpr char16_t kRegisterCloseGlyph[] = u"\u2715";

inline constexpr char16_t kRegisterNoUpdateUrl[] = u"Chưa cấu hình UpdateUrl trong Launcher.ini.";
inline constexpr char16_t kRegisterBadAccount[] = u"Tài khoản phải từ 4-10 ký tự chữ và số.";
inline constexpr char16_t kRegisterBadPassword[] =
    u"Mật khẩu 6-10 ký tự, không dấu tiếng Việt và không có dấu cách.";
inline constexpr char16_t kRegisterPasswordMismatch[] = u"Hai lần nhập mật khẩu không giống nhau.";
inline constexpr char16_t kRegisterNoEmail[] = u"Bạn chưa nhập email.";
inline constexpr char16_t kRegisterSending[] = u"Đang gửi yêu cầu...";
inline constexpr char16_t kRegisterNoConnection[] = u"Không kết nối được server đăng ký.";
inline constexpr char16_t kRegisterBadAnswer[] = u"Server trả về dữ liệu không hợp lệ.";

inline constexpr char kRegisterUrlFormat[] = "%s/launcher/register";
