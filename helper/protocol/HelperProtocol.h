#pragma once

#include <cstddef>
#include <string_view>

// The texts through which the helper and the application talk, in one place
// for both sides. The application reads the helper's merged output; these
// lines are the only ones it acts on, and only in the form given here:
//
// - kAllOk and kDamaged count only as a line of their own (nothing before
//   them on the line, a line feed right after), and only together with the
//   exit status: kAllOk with status 0, kDamaged from a run that failed.
// - kPasswordPromptStart begins the prompt line; the prompt ends with
//   kPasswordPromptEnd and no line feed, and the helper then waits for one
//   line on its standard input. Output that merely contains the text is not
//   a prompt.
// - kPasswordRefused stands on a line of its own after a refused answer.
// - A progress mark is kProgressMarkLead followed by the percentage in three
//   characters, right aligned, and "%".
//
// Entry names and the archive's own name are printed only after the helper
// has made them safe for one line (no control characters, valid UTF-8), so
// no name can end a line early, rewrite it, or stand alone as a marker line
// of an extraction run.
namespace HelperProtocol {

inline constexpr std::string_view kAllOk = "***All OK****";
inline constexpr std::string_view kDamaged = "Unexpected end of archive";
inline constexpr std::string_view kPasswordPromptStart = "Enter password (will not be echoed) for ";
inline constexpr std::string_view kPasswordPromptEnd = ": ";
inline constexpr std::string_view kPasswordRefused = "The specified password is incorrect.";
inline constexpr std::string_view kExtracting = "Extracting";
inline constexpr std::string_view kProgressMarkLead = "\b\b\b\b";

// The longest password line the helper reads; a longer line is a wrong
// password, not an unbounded allocation.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

} // namespace HelperProtocol
