// Dialogs over resource templates: the modeless and modal runs, the exchange
// between controls and members both ways, the status box, and the registry
// profile (fallbacks for what is missing or not text).
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include "DataExchange.h"
#include "Dialog.h"
#include "Profile.h"
#include "StatusBox.h"

namespace {

class ExchangeDialog : public CDialog {
public:
    ExchangeDialog() : CDialog(GetModuleHandleA(NULL), 100) {}
    std::string text = "first";
    int check = 1;
    int radio = 2;
    int inits = 0;

    // Runs from inside the modal loop: the test's steps on the live window.
    std::function<void(ExchangeDialog &)> onInit;

protected:
    BOOL OnInitDialog() override
    {
        ++inits;
        BOOL result = CDialog::OnInitDialog();
        if (onInit)
            onInit(*this);
        return result;
    }
    void DoDataExchange(CDataExchange &dx) override
    {
        DDX_Text(dx, 200, text);
        DDX_Check(dx, 201, check);
        DDX_Radio(dx, 202, 3, radio);
    }
};

TEST(DialogTest, ModelessDialogExchangesBothWays)
{
    ExchangeDialog dialog;
    ASSERT_TRUE(dialog.Create(NULL));
    ASSERT_TRUE(dialog.Window() != NULL);
    EXPECT_FALSE(dialog.IsModal());
    EXPECT_EQ(1, dialog.inits);
    EXPECT_EQ("first", dialog.ItemText(200));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog.Window(), 201));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog.Window(), 204));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog.Window(), 202));

    dialog.SetItemText(200, "typed");
    CheckDlgButton(dialog.Window(), 201, BST_UNCHECKED);
    CheckDlgButton(dialog.Window(), 204, BST_UNCHECKED);
    ASSERT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ("typed", dialog.text);
    EXPECT_EQ(0, dialog.check);
    EXPECT_EQ(-1, dialog.radio) << "no button checked";

    dialog.radio = 0;
    dialog.UpdateData(false);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog.Window(), 202));
    dialog.EnableItem(200, false);
    EXPECT_FALSE(IsWindowEnabled(dialog.Item(200)));

    // OK hides a modeless dialog after taking the values; the window stays.
    dialog.SetItemText(200, "on OK");
    SendMessageA(dialog.Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ("on OK", dialog.text);
    EXPECT_FALSE(IsWindowVisible(dialog.Window()));
    dialog.DestroyWindow();
    EXPECT_TRUE(dialog.Window() == NULL);
}

TEST(DialogTest, ModalDialogEndsWithItsButtonsResult)
{
    struct Case {
        int button;
        INT_PTR result;
        const char *text;
    } cases[] = {{IDOK, IDOK, "changed"}, {IDCANCEL, IDCANCEL, "first"}};
    for (const Case &c : cases) {
        ExchangeDialog dialog;
        dialog.onInit = [&](ExchangeDialog &d) {
            d.SetItemText(200, "changed");
            PostMessageA(d.Window(), WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
        };
        EXPECT_EQ(c.result, dialog.DoModal(NULL));
        EXPECT_EQ(c.text, dialog.text) << "Cancel takes no values";
        EXPECT_TRUE(dialog.Window() == NULL);
    }
    CDialog missing(GetModuleHandleA(NULL), 999);
    EXPECT_EQ(-1, missing.DoModal(NULL));
}

TEST(StatusBoxTest, ShowsOneTextAndHides)
{
    CStatusBox box(GetModuleHandleA(NULL));
    ASSERT_TRUE(box.Show(NULL, "Connecting..."));
    EXPECT_TRUE(IsWindowVisible(box.Window()));
    EXPECT_EQ("Connecting...", box.Text());
    EXPECT_TRUE(SendMessageA(box.Item(CStatusBox::IconId), STM_GETICON, 0, 0) != 0);
    HWND first = box.Window();
    ASSERT_TRUE(box.Show(NULL, "Done"));
    EXPECT_EQ(first, box.Window()) << "one box, its text replaced";
    EXPECT_EQ("Done", box.Text());
    CStatusBox::Hold(10);
    box.Hide();
    EXPECT_FALSE(IsWindowVisible(box.Window()));
}

TEST(ProfileTest, RegistryProfileKeepsTextBySection)
{
    const char key[] = "Software\\Veltrane\\ClassLibProfileTest";
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
    CRegistryProfile profile(HKEY_CURRENT_USER, key);
    EXPECT_EQ("fallback", profile.GetString("Section", "Entry", "fallback"));
    ASSERT_TRUE(profile.WriteString("Section", "Entry", "value"));
    ASSERT_TRUE(profile.WriteString("Other", "Entry", ""));
    EXPECT_EQ("value", profile.GetString("Section", "Entry", "fallback"));
    EXPECT_EQ("", profile.GetString("Other", "Entry", "fallback"));
    EXPECT_EQ("fallback", profile.GetString("Section", "Missing", "fallback"));

    HKEY section;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(key) + "\\Section").c_str(), 0,
                                           KEY_SET_VALUE, &section));
    DWORD number = 1;
    RegSetValueExA(section, "Number", 0, REG_DWORD, reinterpret_cast<BYTE *>(&number), sizeof number);
    RegCloseKey(section);
    EXPECT_EQ("fallback", profile.GetString("Section", "Number", "fallback")) << "not text";
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
}

} // namespace
