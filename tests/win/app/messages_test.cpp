// Message boxes as the operator sees them: caption, text, buttons and icon, in the
// selected language, and the button pressed coming back to the caller.
#include <gtest/gtest.h>

#include <string>

#include "messages.h"
#include "resource.h"
#include "resource_language.h"
#include "win_test_support.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr UINT kNoSuchString = 4242;

struct MessageCase {
    const char* name;
    LANGID language;
    bool formatted;  // ShowFormatMessage, else ShowStringMessage
    UINT style;
    UINT stringId;
    const wchar_t* argument;
    int answer;
    const wchar_t* text;
    std::vector<int> buttons;
    bool icon;
    int result;
};

class MessageBoxes : public ::testing::TestWithParam<MessageCase> {
protected:
    void TearDown() override { SetResourceLanguage(kEnglish); }
};

TEST_P(MessageBoxes, ShowCaptionTextAndButtons)
{
    const MessageCase& c = GetParam();
    SetResourceLanguage(c.language);
    MessageBoxAnswerer answerer({c.answer});

    const int result = c.formatted ? ShowFormatMessage(nullptr, c.style, c.stringId, c.argument, nullptr, nullptr)
                                   : ShowStringMessage(nullptr, c.stringId);

    ASSERT_EQ(answerer.Seen().size(), 1u);
    const SeenMessageBox& box = answerer.Seen()[0];
    EXPECT_EQ(box.caption, L"Velomar");
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.buttons, c.buttons);
    EXPECT_EQ(box.icon, c.icon);
    EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Table, MessageBoxes,
                         ::testing::Values(MessageCase{"WarningInEnglish",
                                                       kEnglish,
                                                       false,
                                                       0,
                                                       IDS_COMM_FAILURE,
                                                       nullptr,
                                                       IDOK,
                                                       L"Communication failure!",
                                                       {IDOK},
                                                       true,
                                                       1},
                                           MessageCase{"WarningReturnsOneWhateverThePress",
                                                       kGerman,
                                                       false,
                                                       0,
                                                       IDS_OUT_OF_MEMORY,
                                                       nullptr,
                                                       IDCANCEL,
                                                       L"Kein freier Speicher verf\u00fcgbar!",
                                                       {IDOK},
                                                       true,
                                                       1},
                                           MessageCase{"StartQuestionInGermanCancelled",
                                                       kGerman,
                                                       true,
                                                       MB_OKCANCEL | MB_ICONEXCLAMATION,
                                                       IDS_OUTPUTS_WARNING,
                                                       nullptr,
                                                       IDCANCEL,
                                                       L"Warnung!\nAusg\u00e4nge k\u00f6nnen ver\u00e4ndert werden!",
                                                       {IDOK, IDCANCEL},
                                                       true,
                                                       IDCANCEL},
                                           MessageCase{"StartQuestionInGermanConfirmed",
                                                       kGerman,
                                                       true,
                                                       MB_OKCANCEL | MB_ICONEXCLAMATION,
                                                       IDS_OUTPUTS_WARNING,
                                                       nullptr,
                                                       IDOK,
                                                       L"Warnung!\nAusg\u00e4nge k\u00f6nnen ver\u00e4ndert werden!",
                                                       {IDOK, IDCANCEL},
                                                       true,
                                                       IDOK},
                                           MessageCase{"RetryQuestion",
                                                       kEnglish,
                                                       true,
                                                       MB_RETRYCANCEL | MB_ICONEXCLAMATION,
                                                       IDS_BAD_PDO_CONFIG,
                                                       nullptr,
                                                       IDRETRY,
                                                       L"Bad PDO Configuration!",
                                                       {IDCANCEL, IDRETRY},
                                                       true,
                                                       IDRETRY},
                                           MessageCase{"AbortCodeFilledIn",
                                                       kEnglish,
                                                       true,
                                                       MB_OK,
                                                       IDS_OBJECT_ABORT,
                                                       L"06040043h",
                                                       IDOK,
                                                       L"Unable to access object!\nAbort Code: 06040043h",
                                                       {IDOK},
                                                       false,
                                                       IDOK},
                                           MessageCase{"AbortCodeFilledInGerman",
                                                       kGerman,
                                                       true,
                                                       MB_OK,
                                                       IDS_OBJECT_ABORT,
                                                       L"06040043h",
                                                       IDOK,
                                                       L"Kann auf Objekt nicht zugreifen!\nAbort Code: 06040043h",
                                                       {IDOK},
                                                       false,
                                                       IDOK},
                                           MessageCase{"MissingStringWarning",
                                                       kEnglish,
                                                       false,
                                                       0,
                                                       kNoSuchString,
                                                       nullptr,
                                                       IDOK,
                                                       L"Unable to load resource",
                                                       {IDOK},
                                                       true,
                                                       1},
                                           MessageCase{"MissingStringQuestion",
                                                       kGerman,
                                                       true,
                                                       MB_OKCANCEL,
                                                       kNoSuchString,
                                                       nullptr,
                                                       IDCANCEL,
                                                       L"Unable to load resource",
                                                       {IDOK, IDCANCEL},
                                                       false,
                                                       IDCANCEL},
                                           MessageCase{"MissingArgumentIsEmpty",
                                                       kEnglish,
                                                       true,
                                                       MB_OK,
                                                       IDS_OBJECT_ABORT,
                                                       nullptr,
                                                       IDOK,
                                                       L"Unable to access object!\nAbort Code: ",
                                                       {IDOK},
                                                       false,
                                                       IDOK}),
                         CaseName());

// Format and arguments of fewer than 198 characters together are filled in; from 198
// on the format is shown as it stands.
struct LengthCase {
    const char* name;
    std::size_t first, second, third;  // argument lengths
    bool filled;
};

class MessageLengthRule : public ::testing::TestWithParam<LengthCase> {};

TEST_P(MessageLengthRule, FillsOnlyBelow198Characters)
{
    const LengthCase& c = GetParam();
    const std::wstring format = L"Unable to access object!\nAbort Code: %s";
    const std::size_t room = 198 - format.size();        // argument characters that reach 198
    const std::wstring first(room + c.first - 1, L'a');  // c.first is counted from room - 1
    const std::wstring second(c.second, L'b');
    const std::wstring third(c.third, L'c');
    MessageBoxAnswerer answerer;

    ShowFormatMessage(nullptr, MB_OK, IDS_OBJECT_ABORT, first.c_str(), c.second ? second.c_str() : nullptr,
                      c.third ? third.c_str() : nullptr);

    ASSERT_EQ(answerer.Seen().size(), 1u);
    // The format has one placeholder: only the first argument can appear.
    const std::wstring expected = c.filled ? L"Unable to access object!\nAbort Code: " + first : format;
    EXPECT_EQ(answerer.Seen()[0].text, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MessageLengthRule,
                         ::testing::Values(LengthCase{"OneArgument197", 0, 0, 0, true},
                                           LengthCase{"OneArgument198", 1, 0, 0, false},
                                           LengthCase{"UnusedArgumentsCount", 0, 1, 0, false},
                                           LengthCase{"ThirdArgumentCounts", 0, 0, 1, false},
                                           LengthCase{"FarBeyond", 400, 5, 5, false}),
                         CaseName());

}  // namespace
