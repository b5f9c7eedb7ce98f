// The resources as the program carries them: the dialog templates, control by control, and
// the icon's format.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls.h"

namespace {

struct Control {
    DWORD style;
    DWORD extendedStyle;
    short x, y, width, height;
    WORD id;
    std::string className;  // lower case; the predefined classes by their ordinal's name
    std::string text;
};

struct Dialog {
    DWORD style;
    DWORD extendedStyle;
    short x, y, width, height;
    std::string caption;
    WORD pointSize;
    std::string font;
    std::vector<Control> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE *bytes) : bytes_(bytes) {}
    WORD Word() { WORD value = *(const WORD *)(bytes_ + at_); at_ += 2; return value; }
    DWORD Dword() { DWORD value = *(const DWORD *)(bytes_ + at_); at_ += 4; return value; }
    short Short() { return (short)Word(); }
    void AlignToDword() { at_ = (at_ + 3) & ~(size_t)3; }
    // A zero-terminated UTF-16 text; ASCII here.
    std::string Text()
    {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word())
            text += (char)c;
        return text;
    }
    // A name or an ordinal (0xFFFF and a number), as the template stores classes and menus.
    std::string NameOrOrdinal()
    {
        if (*(const WORD *)(bytes_ + at_) != 0xFFFF)
            return Text();
        Word();
        switch (WORD ordinal = Word()) {
        case 0x80: return "button";
        case 0x81: return "edit";
        case 0x82: return "static";
        default: return "#" + std::to_string(ordinal);
        }
    }

private:
    const BYTE *bytes_;
    size_t at_ = 0;
};

std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

Dialog LoadDialog(const char *name)
{
    HRSRC found = FindResourceA(GetModuleHandleA(nullptr), name, RT_DIALOG);
    EXPECT_NE(found, nullptr) << name;
    if (!found)
        return Dialog();
    TemplateReader reader((const BYTE *)LockResource(LoadResource(nullptr, found)));
    Dialog dialog;
    dialog.style = reader.Dword();
    dialog.extendedStyle = reader.Dword();
    WORD count = reader.Word();
    dialog.x = reader.Short();
    dialog.y = reader.Short();
    dialog.width = reader.Short();
    dialog.height = reader.Short();
    EXPECT_EQ(reader.NameOrOrdinal(), "") << "no menu";
    EXPECT_EQ(reader.NameOrOrdinal(), "") << "the standard dialog class";
    dialog.caption = reader.Text();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = reader.Word();
        dialog.font = reader.Text();
    }
    for (WORD i = 0; i < count; i++) {
        reader.AlignToDword();
        Control control;
        control.style = reader.Dword();
        control.extendedStyle = reader.Dword();
        control.x = reader.Short();
        control.y = reader.Short();
        control.width = reader.Short();
        control.height = reader.Short();
        control.id = reader.Word();
        control.className = Lower(reader.NameOrOrdinal());
        control.text = reader.NameOrOrdinal();
        reader.Word();  // no creation data
        dialog.controls.push_back(control);
    }
    return dialog;
}

void ExpectControl(const Control &control, WORD id, const char *className, const char *text,
                   short x, short y, short width, short height, DWORD style)
{
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(control.id, id);
    EXPECT_EQ(control.className, className);
    EXPECT_EQ(control.text, text);
    EXPECT_EQ(control.x, x);
    EXPECT_EQ(control.y, y);
    EXPECT_EQ(control.width, width);
    EXPECT_EQ(control.height, height);
    EXPECT_EQ(control.style, style | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(control.extendedStyle, 0u);
}

constexpr DWORD dialogStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER |
                              DS_MODALFRAME | DS_SETFONT | DS_3DLOOK;

TEST(Resources, MainDialog)
{
    Dialog dialog = LoadDialog("DLG_MAIN");
    EXPECT_EQ(dialog.caption, "Self-extracting Archive");
    EXPECT_EQ(dialog.style, dialogStyle | WS_MINIMIZEBOX);
    EXPECT_EQ(dialog.extendedStyle, 0u);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    EXPECT_EQ(dialog.x, 6);
    EXPECT_EQ(dialog.y, 78);
    EXPECT_EQ(dialog.width, 296);
    EXPECT_EQ(dialog.height, 83);
    ASSERT_EQ(dialog.controls.size(), 3u);
    ExpectControl(dialog.controls[0], IDC_INSTALL, "button", "&Install", 249, 13, 43, 15,
                  BS_DEFPUSHBUTTON | WS_TABSTOP);
    ExpectControl(dialog.controls[1], IDC_CLOSE, "button", "&Close", 249, 33, 43, 15,
                  BS_PUSHBUTTON | WS_TABSTOP);
    ExpectControl(dialog.controls[2], IDC_STATUS, "static", "", 17, 5, 228, 75,
                  SS_LEFT | WS_GROUP);
}

TEST(Resources, LicenceDialog)
{
    Dialog dialog = LoadDialog("DLG_LIC");
    EXPECT_EQ(dialog.caption, "Lic..");
    EXPECT_EQ(dialog.style, dialogStyle);
    EXPECT_EQ(dialog.extendedStyle, 0u);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    EXPECT_EQ(dialog.x, 17);
    EXPECT_EQ(dialog.y, 23);
    EXPECT_EQ(dialog.width, 315);
    EXPECT_EQ(dialog.height, 157);
    ASSERT_EQ(dialog.controls.size(), 4u);
    ExpectControl(dialog.controls[0], IDC_LICENCE_PROMPT, "static", "To cont....", 10, 123, 297,
                  22, SS_LEFT);
    ExpectControl(dialog.controls[1], IDCANCEL, "button", "Cancel", 168, 140, 55, 14,
                  BS_DEFPUSHBUTTON | WS_TABSTOP);
    ExpectControl(dialog.controls[2], IDOK, "button", "I agree", 103, 140, 55, 14,
                  BS_PUSHBUTTON | WS_TABSTOP);
    ExpectControl(dialog.controls[3], IDC_LICENCE_TEXT, "edit", "", 9, 7, 296, 109,
                  ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN |
                      WS_BORDER | WS_VSCROLL | WS_TABSTOP);
}

TEST(Resources, PasswordDialogIsKept)
{
    Dialog dialog = LoadDialog("DLG_PASS");
    EXPECT_EQ(dialog.caption, "Enter pw...");
    ASSERT_EQ(dialog.controls.size(), 3u);
    EXPECT_EQ(dialog.controls[0].id, IDC_PASSWORD);
    EXPECT_EQ(dialog.controls[0].className, "edit");
    EXPECT_TRUE(dialog.controls[0].style & ES_PASSWORD);
    EXPECT_EQ(dialog.controls[1].id, IDOK);
    EXPECT_EQ(dialog.controls[1].text, "&Ok");
    EXPECT_EQ(dialog.controls[2].id, IDCANCEL);
    EXPECT_EQ(dialog.controls[2].text, "&Cancel");
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(Resources, IconIsOne32By32ImageIn16StandardColours)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC group = FindResourceA(module, "MNICON", RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const WORD *directory = (const WORD *)LockResource(LoadResource(module, group));
    ASSERT_EQ(directory[1], 1) << "an icon";
    ASSERT_EQ(directory[2], 1) << "one image";
    const IconGroupEntry *entry = (const IconGroupEntry *)(directory + 3);
    EXPECT_EQ(entry->width, 32);
    EXPECT_EQ(entry->height, 32);
    EXPECT_EQ(entry->colourCount, 16);
    EXPECT_EQ(entry->bytes, 744u);

    HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entry->id), RT_ICON);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(SizeofResource(module, image), 744u);
    const BYTE *bytes = (const BYTE *)LockResource(LoadResource(module, image));
    const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)bytes;
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biWidth, 32);
    EXPECT_EQ(header->biHeight, 64) << "colours and mask";
    EXPECT_EQ(header->biBitCount, 4);
    EXPECT_EQ(header->biCompression, (DWORD)BI_RGB);
    const DWORD standard[16] = {  // 0xRRGGBB, as an RGBQUAD reads
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
        0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
    };
    const DWORD *palette = (const DWORD *)(bytes + 40);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(palette[i], standard[i]) << "palette entry " << i;

    // The picture is mostly green box: the bright and the dark green are its main colours.
    const BYTE *colours = bytes + 40 + 64;
    int green = 0;
    for (int i = 0; i < 512; i++)
        for (int pixel : {colours[i] >> 4, colours[i] & 15})
            green += pixel == 2 || pixel == 10;
    EXPECT_GT(green, 256);

    EXPECT_NE(LoadIconA(module, "MNICON"), nullptr);
}

}  // namespace
