#include "widgets/skin/elementtable.h"

namespace {

constexpr ElementValue n(int64_t value) { return {value, nullptr}; }
constexpr ElementValue b(const char *name) { return {0, name}; }
constexpr ElementValue none{0, nullptr};
constexpr ElementKind I = ElementKind::Integer, C = ElementKind::Colour, B = ElementKind::Bitmap,
                      F = ElementKind::Boolean;

}  // namespace

const char *const look_words[5] = {"MACOS", "WINXP", "DEEPBLUE", "PROTEIN", "BLUEGLASS"};

// clang-format off
const ThemeElement theme_elements[theme_element_count] = {
  /*  1 */ {"ButtonImage", B, {b("MACOS_BUTTON"), b("WINXP_BUTTON"), b("DEEPBLUE_BUTTON"), b("PROTEIN_BUTTON"), b("BLUEGLASS_BUTTON")}},
  /*  2 */ {"ButtonTransparentBool", F, {n(1), n(0), n(0), n(0), n(1)}},
  /*  3 */ {"CheckBoxImage", B, {b("MACOS_CHECKBOX"), b("WINXP_CHECKBOX"), b("DEEPBLUE_CHECKBOX"), b("PROTEIN_CHECKBOX"), b("BLUEGLASS_CHECKBOX")}},
  /*  4 */ {"RadioButtonImage", B, {b("MACOS_RADIOBUTTON"), b("WINXP_RADIOBUTTON"), b("DEEPBLUE_RADIOBUTTON"), b("PROTEIN_RADIOBUTTON"), b("BLUEGLASS_RADIOBUTTON")}},
  /*  5 */ {"TitleBarButtonImage", B, {b("MACOS_TITLEBTN"), b("WINXP_TITLEBTN"), b("DEEPBLUE_TITLEBTN"), b("PROTEIN_TITLEBTN"), b("BLUEGLASS_TITLEBTN")}},
  /*  6 */ {"TitleBarButtonTransparentBool", F, {n(0), n(0), n(0), n(1), n(1)}},
  /*  7 */ {"TitleBarButtonLeftOffsetInt", I, {n(3), n(2), n(0), n(0), n(4)}},
  /*  8 */ {"TitleBarButtonRightOffsetInt", I, {n(-2), n(-2), n(0), n(0), n(-3)}},
  /*  9 */ {"TitleBarButtonTopInt", I, {n(4), n(5), n(2), n(2), n(6)}},
  /* 10 */ {"TitleBarLeftImage", B, {b("MACOS_TITLE_LEFT"), b("WINXP_TITLE_LEFT"), b("DEEPBLUE_TITLE_LEFT"), b("PROTEIN_TITLE_LEFT"), b("BLUEGLASS_TITLE_LEFT")}},
  /* 11 */ {"TitleBarClientImage", B, {b("MACOS_TITLE_CLIENT"), b("WINXP_TITLE_CLIENT"), b("DEEPBLUE_TITLE_CLIENT"), b("PROTEIN_TITLE_CLIENT"), b("BLUEGLASS_TITLE_CLIENT")}},
  /* 12 */ {"TitleBarRightImage", B, {b("MACOS_TITLE_RIGHT"), b("WINXP_TITLE_RIGHT"), b("DEEPBLUE_TITLE_RIGHT"), b("PROTEIN_TITLE_RIGHT"), b("BLUEGLASS_TITLE_RIGHT")}},
  /* 13 */ {"FormMinWidthInt", I, {n(130), n(150), n(130), n(130), n(270)}},
  /* 14 */ {"FormRoundCornerInt", I, {n(0), n(13), n(0), n(0), n(11)}},
  /* 15 */ {"FormBackgroundColor", C, {n(0xE7E7E7), n(0xDEEBEF), n(0xE8E8E8), n(0xFBFBFB), n(0xE7E7E7)}},
  /* 16 */ {"FormBorderColor", C, {n(0x7F7F7F), n(0xC82C00), n(0x000000), n(0x000000), n(0x000000)}},
  /* 17 */ {"FormBorderWidthInt", I, {n(1), n(3), n(1), n(1), n(1)}},
  /* 18 */ {"MenuSelectedBorderColor", C, {n(0xC47339), n(0xC66931), n(0xA04A44), n(0xC4302D), n(0xEC5E5E)}},
  /* 19 */ {"MenuSelectedBackgroundColor", C, {n(0xC47339), n(0xEFD3C6), n(0xA04A44), n(0xC4302D), n(0xEC5E5E)}},
  /* 20 */ {"MenuSelectedFontColor", C, {n(0xFFFFFF), n(0x000000), n(0xFFFFFF), n(0xFFFFFF), n(0xFFFFFF)}},
  /* 21 */ {"MenuBackgroundColor", C, {n(0x000000), n(0xFFFFFF), n(0xFFFFFF), n(0xFFFFFF), n(0xE7E7E7)}},
  /* 22 */ {"MenuFontColor", C, {n(0x000000), n(0x000000), n(0x000000), n(0x000000), n(0x000000)}},
  /* 23 */ {"MenuBarColor", C, {n(0x000000), n(0xCED3D6), n(0xCED3D6), n(0xCED3D6), n(0xCED3D6)}},
  /* 24 */ {"ProgressBarImage", B, {b("MACOS_PROGRESSBAR"), b("WINXP_PROGRESSBAR"), b("DEEPBLUE_PROGRESSBAR"), b("PROTEIN_PROGRESSBAR"), b("BLUEGLASS_PROGRESSBAR")}},
  /* 25 */ {"ControlBorderColor", C, {n(0x7F7F7F), n(0x686868), n(0x000000), n(0x000000), n(0x000000)}},
  /* 26 */ {"ControlBackgroundColor", C, {n(0xE7E7E7), n(0xDEEBEF), n(0xE8E8E8), n(0xFBFBFB), n(0xE7E7E7)}},
  /* 27 */ {"ControlFontColor", C, {n(0x000000), n(0xCF4602), n(0x000000), n(0x000000), n(0x000000)}},
  /* 28 */ {"TrackBarBarImage", B, {b("MACOS_TRACKBAR_BAR"), b("WINXP_TRACKBAR_BAR"), b("DEEPBLUE_TRACKBAR_BAR"), b("PROTEIN_TRACKBAR_BAR"), b("BLUEGLASS_TRACKBAR_BAR")}},
  /* 29 */ {"TrackBarSliderImage", B, {b("MACOS_TRACKBAR_SLIDER"), b("WINXP_TRACKBAR_SLIDER"), b("DEEPBLUE_TRACKBAR_SLIDER"), b("PROTEIN_TRACKBAR_SLIDER"), b("BLUEGLASS_TRACKBAR_SLIDER")}},
  /* 30 */ {"TrackBarSliderVImage", B, {b("MACOS_TRACKBAR_SLIDER_V"), b("WINXP_TRACKBAR_SLIDER_V"), b("DEEPBLUE_TRACKBAR_SLIDER_V"), b("PROTEIN_TRACKBAR_SLIDER_V"), b("BLUEGLASS_TRACKBAR_SLIDER_V")}},
  /* 31 */ {"ScrollBarBackgroundColor", C, {n(0xC9C9C9), n(0xF9F9F9), n(0xF5F5F5), n(0xF5F5F5), n(0xF4F4F4)}},
  /* 32 */ {"ScrollBarButtonImage", B, {b("MACOS_SCROLLBAR_BUTTON"), b("WINXP_SCROLLBAR_BUTTON"), b("DEEPBLUE_SCROLLBAR_BUTTON"), b("PROTEIN_SCROLLBAR_BUTTON"), b("BLUEGLASS_SCROLLBAR_BUTTON")}},
  /* 33 */ {"ScrollBarSliderImage", B, {b("MACOS_SCROLLBAR_TRACK"), b("WINXP_SCROLLBAR_TRACK"), b("DEEPBLUE_SCROLLBAR_TRACK"), b("PROTEIN_SCROLLBAR_TRACK"), b("BLUEGLASS_SCROLLBAR_TRACK")}},
  /* 34 */ {"CheckListBoxImage", B, {b("MACOS_CHECKLIST"), b("WINXP_CHECKLIST"), b("DEEPBLUE_CHECKLIST"), b("PROTEIN_CHECKLIST"), b("BLUEGLASS_CHECKLIST")}},
  /* 35 */ {"ToolBarButtonBorderColor", C, {n(0x474747), n(0xC66931), n(0x474747), n(0x474747), n(0x474747)}},
  /* 36 */ {"ToolBarButtonBackgroundColor", C, {n(0xEFEFEF), n(0xEFD3C6), n(0xEFEFEF), n(0xEFEFEF), n(0xEFEFEF)}},
  /* 37 */ {"ToolBarButtonDownBackgroundColor", C, {n(0xD8D8D8), n(0xE1AC93), n(0xD8D8D8), n(0xD8D8D8), n(0xD8D8D8)}},
  /* 38 */ {"ScrollButtonImage", B, {b("MACOS_SCROLLBUTTON"), b("WINXP_SCROLLBUTTON"), b("MORE_SCROLLBUTTON"), b("MORE_SCROLLBUTTON"), b("MORE_SCROLLBUTTON")}},
  /* 39 */ {"TabControlTabImage", B, {b("MACOS_TAB"), b("WINXP_TAB"), b("DEEPBLUE_TAB"), b("PROTEIN_TAB"), b("BLUEGLASS_TAB")}},
  /* 40 */ {"TabControlBarImage", B, {b("MACOS_TAB_LINE"), b("WINXP_TAB_LINE"), b("DEEPBLUE_TAB_LINE"), b("PROTEIN_TAB_LINE"), b("BLUEGLASS_TAB_LINE")}},
  /* 41 */ {"SideChannelHandleImage", B, {b("MACOS_SIDECHENNEL_HANDLE"), b("WINXP_SIDECHENNEL_HANDLE"), b("DEEPBLUE_SIDECHENNEL_HANDLE"), b("PROTEIN_SIDECHENNEL_HANDLE"), b("BLUEGLASS_SIDECHENNEL_HANDLE")}},
  /* 42 */ {"SideChannelBarImage", B, {b("MACOS_SIDECHENNEL_BAR"), b("WINXP_SIDECHENNEL_BAR"), b("DEEPBLUE_SIDECHENNEL_BAR"), b("PROTEIN_SIDECHENNEL_BAR"), b("BLUEGLASS_SIDECHENNEL_BAR")}},
  /* 43 */ {"TitleBarMinimizedImage", B, {none, none, none, none, none}},
  /* 44 */ {"TitleBarFontColor", C, {n(0x000000), n(0xFFFFFF), n(0xFFFFFF), n(0xFFFFFF), n(0xFFFFFF)}},
  /* 45 */ {"FormLeftBorderImage", B, {none, none, none, none, none}},
  /* 46 */ {"FormBottomBorderImage", B, {none, none, none, none, none}},
  /* 47 */ {"FormBottomRoundCornerInt", I, {n(0), n(0), n(0), n(0), n(0)}},
  /* 48 */ {"MenuMenuBarColor", C, {n(0xE7E7E7), n(0xDEEBEF), n(0xE8E8E8), n(0xFBFBFB), n(0xE7E7E7)}},
};
// clang-format on
