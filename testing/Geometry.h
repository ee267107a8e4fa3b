#pragma once

// The sizes of the testing window's text controls. The bank tool measures the bank's texts
// against the same sizes, so its warnings of texts cut on screen follow the window.
namespace testwindow {

// The question label shows one line of this width.
inline constexpr int kQuestionLabelWidth = 585;
inline constexpr int kQuestionLabelHeight = 17;
// The answer buttons show one line, the explanation buttons three.
inline constexpr int kChoiceWidth = 570;
inline constexpr int kOptionHeight = 17;
inline constexpr int kExplanationHeight = 40;

} // namespace testwindow
