// Comments and directives of command-list files, and the two directive passes
// that resolve them.
//
// Grammar (what ReadCommands accepts, step by step)
// ------------------------------------------------
// 1. Comments.  "/*" outside a comment opens one; the first "*/" that begins
//    after the "/*" closes it ("/*/" opens and does not close).  Comments do
//    not nest and quotes do not protect: a "/*" inside a comment means
//    nothing, a "*/" outside one is ordinary text.  A comment is removed with
//    its markers and nothing is put in its place.  A comment still open at
//    the end of the file is an error.  Comments go before directives are
//    looked for, so a "#" inside a comment is not a directive.
//
// 2. Directives, in the comment-free text.  Every "#" starts one; it cannot
//    be escaped.
//        directive = "#" name argument ";"
//        name      = 1 to 100 characters up to the first white space
//                    (space, tab, CR, LF), ";" or the end of the text;
//                    compared with INCLUDELIST and ALIAS, case ignored
//        argument  = everything from the character that ended the name up to
//                    the next ";" (it may span lines; it cannot hold ";")
//    A "#" followed directly by white space or ";" fails without a message.
//
// 3. #INCLUDELIST file;  The directive, from "#" through ";", is replaced by
//    the fully preprocessed text of the file (its own comments removed and
//    its own directives resolved, on their own).  The file name is the
//    argument without its leading white space, trailing white space kept; or,
//    when it starts with a double quote, what stands up to the next double
//    quote that is not escaped as \" (the rest is ignored).  Files open
//    relative to the current working directory.  A file already being
//    included on the way to this one (names compared as written, case
//    ignored) is refused.  The character after the ";" stays.
//
// 4. #ALIAS name = value;  name: a word without white space and "=";
//    characters between the name and the "=" are ignored.  value: from the
//    first character behind the "=" that is neither white space nor "=" up to
//    the ";", white space included; it may not hold "#".  The directive and
//    the one character behind its ";" are removed.  Every later whole word
//    equal to name (case kept) becomes value.  Words are the runs between
//    space, tab, CR, LF, ":" and ";".  Directives take effect from the last
//    to the first, each on the text behind it as the later ones left it: a
//    value may use aliases defined before it; a later directive for the same
//    name takes over from its position; aliases of an included file stay
//    inside it.  Because the character behind a ";" goes, and if a directive
//    follows directly the next remaining character goes instead, two words can
//    join into one that an earlier alias then matches.
//
// Worked example.  Given sub.txt holding "w ADDR:V" and the list
//     #ALIAS ADDR = 10;  /* base address */
//     #ALIAS V = ADDR 2;
//     r ADDR:V
//     #INCLUDELIST sub.txt;
//     end
// comments go first, leaving "#ALIAS ADDR = 10;  \n..." (two blanks behind
// the first ";").  The first pass splices in "w ADDR:V" (sub.txt has no
// aliases of its own).  The second pass then works from the last directive
// back: V becomes "ADDR 2" behind its directive, then ADDR becomes "10"
// behind the first one, inside V's value too.  The first directive takes one
// blank with it, the second its line end, so the result is, as a C string,
//     " \nr 10:10 2\nw 10:10 2\nend"
#ifndef ZARK_CMDLIST_DIRECTIVES_H
#define ZARK_CMDLIST_DIRECTIVES_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "cmdlist/read_commands.h"

// The longest directive name.
inline constexpr std::size_t kMaxDirectiveName = 100;

// Reads the directive name that begins at text[pos] (just behind a "#").
// Returns it, or nothing after printing why (nothing is printed when white
// space or ";" follows the "#").
std::optional<std::string_view> GetDirective(std::string_view text, std::size_t pos);

// Reads the directive argument that begins at text[pos] (the character that
// ended the name) up to, not including, the next ";".  Returns nothing when
// text[pos] is ";" or, after a message, when the text ends first.
std::optional<std::string_view> GetDirectiveArg(std::string_view text, std::size_t pos);

// True for INCLUDELIST / ALIAS written in any case.
bool IsIncludeDirective(std::string_view name);
bool IsAliasDirective(std::string_view name);

// Resolves the directives of one comment-free text: the first pass splices in
// included files, the second applies and removes the aliases.  On success the
// text is replaced by the result; on failure it is left as it was and false
// is returned after the messages.
bool ProcessDirectives(std::string &text, IncludeChain *chain, int depth);

// The first pass: every INCLUDELIST directive replaced by its file's
// preprocessed text, ALIAS directives left in place.  Nothing on failure.
std::optional<std::string> ProcessDirectivesFirstPass(const std::string &text, IncludeChain *chain, int depth);

// The second pass: every ALIAS directive applied and removed.  Nothing on
// failure.
std::optional<std::string> ProcessDirectivesSecondPass(const std::string &text);

#endif
