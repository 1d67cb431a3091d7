#pragma once

#include <QString>

#include <array>
#include <optional>

// The window's controls as designed, in tab order: the one table the window is built from
// and its tests read. Labels take a tab position but never the focus.
namespace controltable {

enum class Kind { TextBox, CommandButton, PictureBox, ListBox, Label, LineEdit };

struct Row {
    const char* name;
    Kind kind;
    // The caption, or the initial text of a box.
    const char* caption;
    // What a screen reader calls a control whose caption does not say it; none: the caption.
    const char* spoken;
    // Twips from the top-left corner of the client area.
    int left, top, width, height;
    int tab;
};

inline constexpr std::array<Row, 25> kRows{{
    {"txt_question", Kind::TextBox, "", "question box", 240, 720, 5175, 3255, 0},
    {"txt_answer", Kind::TextBox, " ", "answer box", 5640, 720, 5055, 3255, 1},
    {"cmdNextQuestion", Kind::CommandButton, "Next Question / Answer", nullptr, 240, 0, 975, 735, 2},
    {"cmd_enter_response", Kind::CommandButton, "Enter Response", nullptr, 5640, 240, 855, 495, 3},
    {"Picture1", Kind::PictureBox, "", "diagram", 240, 4080, 5175, 3375, 4},
    {"Picture2", Kind::PictureBox, "", "copy of the diagram", 5640, 4080, 5055, 3375, 5},
    {"cmd_save_as_notes", Kind::CommandButton, "Save as Notes", nullptr, 6480, 240, 855, 495, 6},
    {"cmd_timerTrigger", Kind::CommandButton, "Trigger Timer", nullptr, 2400, 7560, 735, 495, 7},
    {"List1", Kind::ListBox, "", "empty list", 3120, 7680, 1695, 840, 8},
    {"lbl_parameter(0)", Kind::Label, "Parameter 1", nullptr, 5640, 7680, 900, 195, 9},
    {"txt_parameter(0)", Kind::LineEdit, "1", "Parameter 1", 6720, 7680, 300, 285, 10},
    {"lbl_parameter(1)", Kind::Label, "Parameter 2", nullptr, 5640, 8160, 855, 195, 11},
    {"txt_parameter(1)", Kind::LineEdit, "1", "Parameter 2", 6720, 8160, 300, 285, 12},
    {"lbl_parameter(2)", Kind::Label, "Parameter 3", nullptr, 7200, 7680, 1005, 195, 13},
    {"txt_parameter(2)", Kind::LineEdit, "1", "Parameter 3", 8205, 7680, 300, 285, 14},
    {"lbl_parameter(3)", Kind::Label, "Parameter 4", nullptr, 7200, 8160, 900, 195, 15},
    {"txt_parameter(3)", Kind::LineEdit, "1", "Parameter 4", 8205, 8160, 300, 285, 16},
    {"cmd_displayCumulativeText", Kind::CommandButton, "display everything", nullptr, 3600, 240, 855, 495, 17},
    {"cmd_display_note_file", Kind::CommandButton, "display notes", nullptr, 4440, 240, 975, 495, 18},
    {"cmd_quit", Kind::CommandButton, "quit program", nullptr, 10200, 0, 735, 495, 19},
    {"cmd_pend_exp", Kind::CommandButton, "pend exp", nullptr, 8640, 7560, 495, 375, 20},
    {"cmd_next_picture", Kind::CommandButton, "next picture", nullptr, 1200, 7560, 855, 495, 21},
    {"lbl_only_if_prompted", Kind::Label, "click only if prompted", nullptr, 240, 7560, 855, 495, 22},
    {"cmd_copy_picture", Kind::CommandButton, "copy picture", nullptr, 1200, 8160, 855, 495, 23},
    {"cmd_clr_answer", Kind::CommandButton, "clear answer", nullptr, 8880, 240, 735, 495, 24},
}};

// The table's order is the tab order: the window creates, stacks and chains them so.
constexpr bool inTabOrder()
{
    for (size_t i = 0; i < kRows.size(); ++i)
        if (kRows[i].tab != int(i))
            return false;
    return true;
}
static_assert(inTabOrder());

// The client area, in twips.
inline constexpr int kWidth = 10875;
inline constexpr int kHeight = 8595;

inline std::optional<Row> find(QLatin1String name)
{
    for (const Row& row : kRows)
        if (name == QLatin1String(row.name))
            return row;
    return std::nullopt;
}

} // namespace controltable
