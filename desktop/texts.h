// Every text the desktop shows, as an (Arabic, English) pair. Arabic is the
// default language and is laid out right to left; `lang` = "en" selects
// English. Pure data, shared by the windows, the tray and the tests.
#pragma once

#include <string>

#include "core/config.h"

namespace lcx {

enum class Language { kArabic, kEnglish };

struct Text {
  const char* ar;
  const char* en;
};

inline const char* Tr(Language lang, const Text& t) { return lang == Language::kEnglish ? t.en : t.ar; }

// Exactly "en" means English; anything else, or no `lang`, Arabic.
Language LanguageFromConfig(const ConfigMap& config);
// The value saved under `lang`.
inline const char* LanguageKey(Language lang) { return lang == Language::kEnglish ? "en" : "ar"; }
inline Language Flipped(Language lang) {
  return lang == Language::kEnglish ? Language::kArabic : Language::kEnglish;
}

namespace txt {

// Tray icon and its menu.
inline constexpr Text kTrayTip{"Lumicast — يعمل", "Lumicast — running"};
inline constexpr Text kMenuOpenPanel{"فتح لوحة التحكّم", "Open control panel"};
inline constexpr Text kMenuOpenWeb{"فتح لوحة الويب", "Open web panel"};
inline constexpr Text kMenuAbout{"عن البرنامج", "About"};
inline constexpr Text kMenuShowIcon{"إظهار الأيقونة", "Show icon"};
inline constexpr Text kMenuExit{"خروج", "Exit"};
// Only where the screen comes through the desktop's ScreenCast portal.
inline constexpr Text kMenuShareAgain{"مشاركة الشاشة من جديد", "Share the screen again"};

// Shared by several windows.
inline constexpr Text kLanguageButton{"EN", "ع"};  // names the language it switches to
inline constexpr Text kUsername{"اسم المستخدم:", "Username:"};
inline constexpr Text kPassword{"كلمة المرور:", "Password:"};
inline constexpr Text kDeviceId{"معرّف الجهاز (HWID):", "Device ID (HWID):"};
inline constexpr Text kCopy{"نسخ", "Copy"};
inline constexpr Text kRecoveryCode{"كود الاسترجاع:", "Recovery code:"};
inline constexpr Text kRecover{"استرجاع", "Recover"};
inline constexpr Text kOk{"موافق", "OK"};
inline constexpr Text kCancel{"إلغاء", "Cancel"};
inline constexpr Text kClose{"إغلاق", "Close"};

// Login window.
inline constexpr Text kLoginTitle{"تسجيل الدخول — لوحة التحكّم", "Login — Control Panel"};
inline constexpr Text kLoginHeading{"تسجيل الدخول إلى لوحة التحكّم", "Sign in to the control panel"};
inline constexpr Text kFactoryPasswordTitle{"كلمة مرور جديدة — لوحة التحكّم", "New password — Control Panel"};
inline constexpr Text kFactoryPasswordHeading{"غيّر كلمة المرور الافتراضية", "Change the factory password"};
inline constexpr Text kFactoryPasswordText{
    "كلمة المرور الحالية هي كلمة المصنع «admin». اختر كلمة مرور جديدة (8 أحرف على الأقل) قبل المتابعة.",
    "The password is still the factory \"admin\". Choose a new password (at least 8 characters) to continue."};
inline constexpr Text kSaveAndContinue{"حفظ ومتابعة", "Save & continue"};
inline constexpr Text kLoginButton{"دخول", "Login"};
inline constexpr Text kForgot{"🔑 نسيت كلمة المرور؟", "🔑 Forgot password?"};
inline constexpr Text kRecoverStep1{"1. انسخ معرّف الجهاز الظاهر أدناه.", "1. Copy the device ID shown below."};
inline constexpr Text kRecoverStep2{"2. أرسله إلى Halvorix (الدعم الفني).", "2. Send it to Halvorix (support)."};
inline constexpr Text kRecoverStep3{"3. ستصلك رسالة فيها كود الاسترجاع.", "3. You will receive a recovery code."};
inline constexpr Text kRecoverStep4{"4. الصق الكود في الحقل واضغط «استرجاع».",
                                    "4. Paste the code into the field and press \"Recover\"."};

// Admin window.
inline constexpr Text kAdminTitle{"Lumicast — لوحة التحكّم | Halvorix", "Lumicast — Control Panel | Halvorix"};
inline constexpr Text kTabStatus{"الحالة", "Status"};
inline constexpr Text kTabVideo{"الفيديو", "Video"};
inline constexpr Text kTabNetwork{"الشبكة", "Network"};
inline constexpr Text kTabUsers{"المستخدمون", "Users"};
inline constexpr Text kAboutButton{"عن البرنامج", "About"};
inline constexpr Text kApplyRestart{"تطبيق وإعادة التشغيل", "Apply & restart"};

inline constexpr Text kDeviceAddress{"عنوان الجهاز: ", "Device address: "};
inline constexpr Text kWebPanel{"لوحة الويب: ", "Web panel: "};
inline constexpr Text kWebPanelOff{"لوحة الويب: معطّلة", "Web panel: disabled"};
inline constexpr Text kStreamRunning{"البث: يعمل ✅", "Stream: running ✅"};
inline constexpr Text kStreamStopped{"البث: متوقّف ⏸", "Stream: stopped ⏸"};
inline constexpr Text kMotionNow{"الحركة على الشاشة: نعم 🔴", "Motion on screen: yes 🔴"};
inline constexpr Text kMotionNone{"الحركة على الشاشة: لا", "Motion on screen: no"};
inline constexpr Text kVersion{"الإصدار: ", "Version: "};
inline constexpr Text kOpenWebInBrowser{"فتح لوحة الويب في المتصفّح", "Open web panel in browser"};
inline constexpr Text kRefresh{"تحديث", "Refresh"};
inline constexpr Text kStartStream{"▶ تشغيل البث", "▶ Start stream"};
inline constexpr Text kStopStream{"⏸ إيقاف البث", "⏸ Stop stream"};

inline constexpr Text kMainResolution{"دقّة البث الرئيسي:", "Main resolution:"};
inline constexpr Text kFullScreen{"ملء الشاشة (الأعلى)", "Full screen (highest)"};
inline constexpr Text kFps{"الإطارات في الثانية:", "Frames per second:"};
inline constexpr Text kMainQuality{"جودة البث الرئيسي (كيلوبت/ث):", "Main quality (kbit/s):"};
inline constexpr Text kEnableSub{"تفعيل البث الفرعي (لعرض الشبكة في جهاز التسجيل)",
                                 "Enable substream (for NVR grid view)"};
inline constexpr Text kSubResolution{"دقّة البث الفرعي:", "Substream resolution:"};
inline constexpr Text kSubQuality{"جودة البث الفرعي (كيلوبت/ث):", "Sub quality (kbit/s):"};
inline constexpr Text kMonitor{"الشاشة (اسم مخرج X11):", "Monitor (X11 output name):"};
inline constexpr Text kMonitorHint{
    "اتركه فارغًا للشاشة الرئيسية، أو اكتب اسم المخرج كما يعرضه xrandr (مثل HDMI-1). في جلسة Wayland تختار الشاشة من نافذة المشاركة في سطح المكتب.",
    "Leave empty for the primary monitor, or type the output's name as xrandr lists it (e.g. HDMI-1). On Wayland the desktop's sharing dialog picks the screen."};
inline constexpr Text kMotionSensitivity{"حساسية كشف الحركة (٪، 0 = معطّل):", "Motion sensitivity (%, 0 = off):"};
inline constexpr Text kMotionHold{"مدة بقاء الحركة (ثانية):", "Motion hold (seconds):"};
inline constexpr Text kMotionHint{
    "نسبة الصورة التي يجب أن تتغيّر خلال ثانية لتُعدّ حركة (تُرسل إلى أجهزة التسجيل عبر ONVIF).",
    "The share of the picture that must change within a second to count as motion (sent to recorders over ONVIF)."};
inline constexpr Text kWidthPixels{" بكسل عرضًا", " px wide"};

inline constexpr Text kRtspPort{"منفذ RTSP:", "RTSP port:"};
inline constexpr Text kOnvifPort{"منفذ ONVIF:", "ONVIF port:"};
inline constexpr Text kWebPort{"منفذ لوحة الويب:", "Web panel port:"};
inline constexpr Text kEnableWeb{"تفعيل لوحة الويب (الوصول من الجوال/الشبكة)",
                                 "Enable web panel (mobile/network access)"};
inline constexpr Text kWebTls{"لوحة الويب عبر HTTPS (شهادة ذاتية التوقيع)",
                              "Web panel over HTTPS (self-signed certificate)"};
inline constexpr Text kSecureStream{"حماية البث بكلمة مرور (RTSP + ONVIF)",
                                    "Secure stream with password (RTSP + ONVIF)"};
inline constexpr Text kSecureWarning{
    "تنبيه: يجب عندها إدخال اسم المستخدم وكلمة المرور نفسيهما في جهاز التسجيل (NVR)، وإلا فلن يصله البث.",
    "Note: the NVR must then be given the same user name and password, or it will not get the stream."};
inline constexpr Text kDeviceName{"اسم الجهاز (ONVIF):", "Device name (ONVIF):"};
inline constexpr Text kPushUrl{"النشر إلى خادم RTSP:", "Publish to RTSP server:"};
inline constexpr Text kPushUrlHint{"rtsp://[مستخدم:كلمة مرور@]خادم[:منفذ]/مسار — اتركه فارغًا لإيقاف النشر.",
                                   "rtsp://[user:pass@]host[:port]/path — leave empty to publish nowhere."};
inline constexpr Text kAutostart{"التشغيل تلقائيًا عند بدء تشغيل النظام", "Run automatically at start-up"};
inline constexpr Text kShowTrayIcon{"إظهار أيقونة البرنامج في شريط المهام", "Show app icon in the taskbar tray"};
inline constexpr Text kIconHiddenNotice{
    "تم إخفاء الأيقونة. للوصول إلى لوحة التحكّم مرة أخرى شغّل البرنامج من جديد.",
    "The icon is hidden. To reach the control panel again, start the program again."};

inline constexpr Text kNewPassword{"كلمة المرور الجديدة:", "New password:"};
inline constexpr Text kConfirmPassword{"تأكيد كلمة المرور:", "Confirm password:"};
inline constexpr Text kChangeCredentials{"تغيير اسم المستخدم / كلمة المرور", "Change username / password"};
inline constexpr Text kCredentialsHint{"اترك حقلي كلمة المرور فارغين لتغيير اسم المستخدم وحده.",
                                       "Leave both password fields empty to change only the user name."};
inline constexpr Text kRecoveryHeading{"استرجاع كلمة المرور", "Password recovery"};
inline constexpr Text kRecoveryText{
    "نسيت كلمة المرور؟ أرسل معرّف الجهاز إلى Halvorix، ثم أدخل كود الاسترجاع الذي يصلك.",
    "Forgot the password? Send the device ID to Halvorix, then enter the recovery code you receive."};
inline constexpr Text kFactoryHeading{"إعادة ضبط المصنع", "Factory reset"};
inline constexpr Text kFactoryWarning{
    "تُمسح كل الإعدادات ويعود الدخول إلى admin / admin، ثم يُعاد تشغيل البرنامج.",
    "Clears every setting and resets the login to admin / admin, then restarts the program."};
inline constexpr Text kFactoryButton{"إعادة ضبط المصنع", "Factory reset"};

// Message boxes.
inline constexpr Text kCaptionError{"!", "!"};
inline constexpr Text kCaptionInfo{"OK", "OK"};
inline constexpr Text kInvalidLogin{"بيانات الدخول غير صحيحة.", "Invalid login credentials."};
inline constexpr Text kAskApply{"حفظ الإعدادات وإعادة تشغيل المحرّك الآن؟", "Save settings and restart the engine now?"};
inline constexpr Text kSaveFailed{"تعذّر حفظ الإعدادات.", "Could not save settings."};
inline constexpr Text kPasswordsDiffer{"كلمتا المرور غير متطابقتين.", "Passwords do not match."};
inline constexpr Text kPasswordTooLong{"كلمة المرور طويلة جدًا.", "Password is too long."};
inline constexpr Text kPasswordTooShort{"كلمة المرور لازم تكون 8 أحرف على الأقل.", "The password must be at least 8 characters."};
inline constexpr Text kPasswordIsFactory{"لا يمكن استخدام كلمة المصنع admin.", "The factory password admin cannot be used."};
inline constexpr Text kInvalidUserName{"اسم المستخدم: من 1 إلى 32 من الحروف اللاتينية والأرقام و- و_.",
                                       "User name: 1 to 32 Latin letters, digits, \"-\" or \"_\"."};
inline constexpr Text kInvalidPassword{"كلمة المرور تحوي محرفًا غير مسموح.", "The password holds a character that is not allowed."};
inline constexpr Text kInvalidDeviceName{"اسم الجهاز: من 1 إلى 48 بايت، بلا محارف تحكّم ولا فراغ في أوله أو آخره.",
                                         "Device name: 1 to 48 bytes, no control characters, no blank at either end."};
inline constexpr Text kInvalidMonitor{"اسم الشاشة: حتى 64 محرفًا لاتينيًا مطبوعًا، بلا فراغ في أوله أو آخره.",
                                      "Monitor: up to 64 printable Latin characters, no blank at either end."};
inline constexpr Text kInvalidPushUrl{"رابط النشر: rtsp://[مستخدم:كلمة مرور@]خادم[:منفذ]/مسار، حتى 255 محرفًا بلا فراغات.",
                                      "Publish URL: rtsp://[user:pass@]host[:port]/path, up to 255 characters, no blanks."};
inline constexpr Text kNothingToChange{"لا يوجد ما يُغيَّر.", "Nothing to change."};
inline constexpr Text kCredentialsSaved{"تم الحفظ. جارٍ إعادة التشغيل لتطبيق بيانات الدخول الجديدة.",
                                        "Saved. Restarting to apply the new credentials."};
inline constexpr Text kEnterCode{"أدخل كود الاسترجاع.", "Enter the recovery code."};
inline constexpr Text kInvalidCode{"الكود غير صالح لهذا الجهاز.", "Invalid code for this device."};
inline constexpr Text kRecovered{"أُعيد الدخول إلى admin/admin. جارٍ إعادة التشغيل.",
                                 "Login reset to admin/admin. Restarting."};
inline constexpr Text kAskFactoryReset{
    "⚠ سيتم مسح جميع الإعدادات وإعادة كلمة المرور إلى admin/admin.\nهل أنت متأكد؟",
    "⚠ All settings will be cleared and the password reset to admin/admin.\nAre you sure?"};

// EULA and About windows.
inline constexpr Text kEulaTitle{"اتفاقية الترخيص — التشغيل الأول", "License Agreement — First Run"};
inline constexpr Text kEulaHeading{"يُرجى قراءة اتفاقية الترخيص والموافقة عليها قبل الاستخدام.",
                                   "Please read and accept the license agreement before use."};
inline constexpr Text kViewFullAgreement{"📄 عرض الاتفاقية كاملة", "📄 View full agreement"};
inline constexpr Text kAgree{"✔ أوافق", "✔ Agree"};
inline constexpr Text kDecline{"✖ أرفض", "✖ Decline"};
inline constexpr Text kAboutTitle{"عن Lumicast", "About Lumicast"};
inline constexpr Text kAboutDescription{"يحوّل شاشة حاسوبك إلى كاميرا IP تعمل بـ ONVIF / RTSP مع أي جهاز تسجيل (NVR).",
                                        "Turns your PC screen into an ONVIF / RTSP IP camera for any NVR."};
inline constexpr Text kViewLicense{"📄 عرض اتفاقية الترخيص", "📄 View License Agreement"};
inline constexpr Text kMaker{"© Halvorix", "© Halvorix"};

}  // namespace txt
}  // namespace lcx
