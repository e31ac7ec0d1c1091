// Templates 108 to 111 in both languages, as the dialog manager builds them: caption,
// size, and every control in template order with its class, identifier, text, place and
// size. Positions are compared in pixels, each converted from dialog units on its own as
// the dialog manager does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "resource_language.h"
#include "win_test_support.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr int kNoId = 0xFFFF;  // a control without an identifier of its own

struct Control {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    int x, y, width, height;
};

struct Layout {
    std::string name;
    LANGID language;
    UINT templateId;
    const wchar_t* caption;
    int width, height;
    std::vector<Control> controls;
};

INT_PTR CALLBACK TemplateOnly(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

class DialogLayout : public ::testing::TestWithParam<Layout> {
protected:
    void TearDown() override { SetResourceLanguage(kEnglish); }
};

TEST_P(DialogLayout, ControlsSitWhereTheyBelong)
{
    const Layout& layout = GetParam();
    SetResourceLanguage(layout.language);
    HWND dialog = CreateDialogInLanguage(layout.templateId, nullptr, TemplateOnly, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), layout.caption);
    RECT size{0, 0, layout.width, layout.height};
    MapDialogRect(dialog, &size);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    std::size_t index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        ASSERT_LT(index, layout.controls.size()) << "more controls than expected";
        const Control& c = layout.controls[index];
        SCOPED_TRACE(testing::Message() << "control " << index << " (" << c.id << ")");
        wchar_t className[32] = L"";
        GetClassNameW(child, className, 32);
        EXPECT_EQ(std::wstring(className), c.className);
        EXPECT_EQ(GetDlgCtrlID(child) & 0xFFFF, c.id);
        EXPECT_EQ(WindowText(child), c.text);
        RECT place{};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        RECT expected{c.x, c.y, c.width, c.height};
        MapDialogRect(dialog, &expected);
        EXPECT_EQ(place.left, expected.left);
        EXPECT_EQ(place.top, expected.top);
        EXPECT_EQ(place.right - place.left, expected.right);
        EXPECT_EQ(place.bottom - place.top, expected.bottom);
    }
    EXPECT_EQ(index, layout.controls.size()) << "fewer controls than expected";
    DestroyWindow(dialog);
}

const std::vector<Control> kAbout = {
    {IDOK, L"Button", L"&OK", 72, 110, 50, 14},
    {IDC_ABOUT_TITLE, L"Static", L"Velomar", 9, 40, 175, 10},
    {IDC_ABOUT_MAKER, L"Static", L"", 9, 55, 175, 10},
    {IDC_ABOUT_VERSION, L"Static", L"V1.0", 6, 70, 180, 10},
    {kNoId, L"Static", L"", 9, 85, 175, 1},
    {IDC_ABOUT_NOTICE, L"Static", L"", 9, 95, 175, 10},
    {IDC_ABOUT_ICON, L"Static", L"", 15, 10, 20, 20},
};

const std::vector<Control> kSearch = {
    {IDOK, L"Button", L"&OK", 102, 150, 50, 14},
    {IDC_SLAVE_LIST, L"ListBox", L"", 9, 10, 235, 135},
};

const std::vector<Control> kReadEnglish = {
    {IDOK, L"Button", L"&Read", 170, 145, 50, 14},
    {IDCANCEL, L"Button", L"&Close", 15, 145, 50, 14},
    {kNoId, L"Static", L"&Object Number (Hex)", 5, 15, 95, 8},
    {IDC_OBJECT_INDEX, L"Edit", L"", 110, 15, 50, 12},
    {kNoId, L"Static", L"Su&bindex (Hex)", 5, 35, 95, 8},
    {IDC_OBJECT_SUBINDEX, L"Edit", L"", 110, 35, 50, 12},
    {kNoId, L"Static", L"Result Length", 5, 55, 95, 8},
    {IDC_RESULT_LENGTH, L"Edit", L"", 110, 55, 50, 12},
    {kNoId, L"Static", L"Result Value", 5, 75, 95, 8},
    {IDC_RESULT_VALUE, L"Edit", L"", 110, 75, 120, 12},
    {kNoId, L"Button", L"Data Format", 5, 90, 225, 45},
    {IDC_FORMAT_HEX, L"Button", L"&Hex", 10, 105, 55, 10},
    {IDC_FORMAT_FLOAT, L"Button", L"&Float", 10, 120, 55, 10},
    {IDC_FORMAT_UNSIGNED, L"Button", L"&Unsigned", 85, 105, 55, 10},
    {IDC_FORMAT_SIGNED, L"Button", L"&Signed", 85, 120, 55, 10},
    {IDC_FORMAT_RAW, L"Button", L"Ra&w", 160, 105, 55, 10},
};

const std::vector<Control> kReadGerman = {
    {IDOK, L"Button", L"&Lesen", 170, 145, 50, 14},
    {IDCANCEL, L"Button", L"&Schliessen", 15, 145, 50, 14},
    {kNoId, L"Static", L"&Objektnummer (Hex)", 5, 15, 80, 8},
    {IDC_OBJECT_INDEX, L"Edit", L"", 95, 15, 50, 12},
    {kNoId, L"Static", L"Su&bindex (Hex)", 5, 35, 80, 8},
    {IDC_OBJECT_SUBINDEX, L"Edit", L"", 95, 35, 50, 12},
    {kNoId, L"Static", L"Antwortl\u00e4nge", 5, 55, 80, 8},
    {IDC_RESULT_LENGTH, L"Edit", L"", 95, 55, 50, 12},
    {kNoId, L"Static", L"Ergebnis", 5, 75, 80, 8},
    {IDC_RESULT_VALUE, L"Edit", L"", 95, 75, 135, 12},
    {kNoId, L"Button", L"Datenformat", 5, 90, 225, 45},
    {IDC_FORMAT_HEX, L"Button", L"&Hex", 10, 105, 55, 10},
    {IDC_FORMAT_FLOAT, L"Button", L"&Float", 10, 120, 55, 10},
    {IDC_FORMAT_UNSIGNED, L"Button", L"&Unsigned", 85, 105, 55, 10},
    {IDC_FORMAT_SIGNED, L"Button", L"S&igned", 85, 120, 55, 10},
    {IDC_FORMAT_RAW, L"Button", L"&Roh", 160, 105, 55, 10},
};

const std::vector<Control> kWriteEnglish = {
    {IDOK, L"Button", L"&Write", 170, 175, 50, 14},
    {IDCANCEL, L"Button", L"&Close", 15, 175, 50, 14},
    {kNoId, L"Static", L"&Object Number (Hex)", 5, 15, 95, 8},
    {IDC_OBJECT_INDEX, L"Edit", L"", 110, 15, 50, 12},
    {kNoId, L"Static", L"Su&bindex (Hex)", 5, 35, 95, 8},
    {IDC_OBJECT_SUBINDEX, L"Edit", L"", 110, 35, 50, 12},
    {kNoId, L"Static", L"Send &Value", 5, 55, 95, 8},
    {IDC_SEND_VALUE, L"Edit", L"", 110, 55, 120, 12},
    {kNoId, L"Button", L"Data Format", 5, 70, 225, 45},
    {IDC_FORMAT_HEX, L"Button", L"&Hex", 10, 85, 55, 10},
    {IDC_FORMAT_FLOAT, L"Button", L"&Float", 10, 100, 55, 10},
    {IDC_FORMAT_UNSIGNED, L"Button", L"&Unsigned", 85, 85, 55, 10},
    {IDC_FORMAT_SIGNED, L"Button", L"S&igned", 85, 100, 55, 10},
    {IDC_FORMAT_RAW, L"Button", L"Ra&w", 160, 85, 55, 10},
    {kNoId, L"Button", L"Number of Bytes", 5, 120, 225, 45},
    {IDC_COUNT_1, L"Button", L"&1 Byte", 10, 135, 55, 10},
    {IDC_COUNT_2, L"Button", L"&2 Bytes", 10, 150, 55, 10},
    {IDC_COUNT_3, L"Button", L"&3 Bytes", 160, 135, 55, 10},
    {IDC_COUNT_4, L"Button", L"&4 Bytes", 160, 150, 55, 10},
};

const std::vector<Control> kWriteGerman = {
    {IDOK, L"Button", L"Sch&reiben", 170, 175, 50, 14},
    {IDCANCEL, L"Button", L"&Schliessen", 15, 175, 50, 14},
    {kNoId, L"Static", L"&Objekt Nummer (Hex)", 5, 15, 95, 8},
    {IDC_OBJECT_INDEX, L"Edit", L"", 110, 15, 50, 12},
    {kNoId, L"Static", L"Su&bindex (Hex)", 5, 35, 95, 8},
    {IDC_OBJECT_SUBINDEX, L"Edit", L"", 110, 35, 50, 12},
    {kNoId, L"Static", L"Sende&wert", 5, 55, 95, 8},
    {IDC_SEND_VALUE, L"Edit", L"", 110, 55, 120, 12},
    {kNoId, L"Button", L"Datenformat", 5, 70, 225, 45},
    {IDC_FORMAT_HEX, L"Button", L"&Hex", 10, 85, 55, 10},
    {IDC_FORMAT_FLOAT, L"Button", L"&Float", 10, 100, 55, 10},
    {IDC_FORMAT_UNSIGNED, L"Button", L"&Unsigned", 85, 85, 55, 10},
    {IDC_FORMAT_SIGNED, L"Button", L"S&igned", 85, 100, 55, 10},
    {IDC_FORMAT_RAW, L"Button", L"&Roh", 160, 85, 55, 10},
    {kNoId, L"Button", L"Anzahl der Bytes", 5, 120, 225, 45},
    {IDC_COUNT_1, L"Button", L"&1 Byte", 10, 135, 55, 10},
    {IDC_COUNT_2, L"Button", L"&2 Bytes", 10, 150, 55, 10},
    {IDC_COUNT_3, L"Button", L"&3 Bytes", 160, 130, 55, 10},
    {IDC_COUNT_4, L"Button", L"&4 Bytes", 160, 145, 55, 10},
};

INSTANTIATE_TEST_SUITE_P(
    Templates, DialogLayout,
    ::testing::Values(Layout{"AboutEnglish", kEnglish, IDD_ABOUT, L"Info", 194, 130, kAbout},
                      Layout{"AboutGerman", kGerman, IDD_ABOUT, L"About", 194, 130, kAbout},
                      Layout{"SearchEnglish", kEnglish, IDD_SEARCH_SLAVES, L"Search Slaves", 255, 170, kSearch},
                      Layout{"SearchGerman", kGerman, IDD_SEARCH_SLAVES, L"Suche Slaves", 255, 170, kSearch},
                      Layout{"ReadEnglish", kEnglish, IDD_READ_OBJECT, L"<F3> Read Object", 237, 167, kReadEnglish},
                      Layout{"ReadGerman", kGerman, IDD_READ_OBJECT, L"<F3> Lese Objekt", 237, 167, kReadGerman},
                      Layout{"WriteEnglish", kEnglish, IDD_WRITE_OBJECT, L"<F4> Write Object", 237, 197, kWriteEnglish},
                      Layout{"WriteGerman", kGerman, IDD_WRITE_OBJECT, L"<F4> Schreibe Objekt", 237, 197,
                             kWriteGerman}),
    CaseName());

}  // namespace
