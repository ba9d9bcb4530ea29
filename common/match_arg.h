// The case-insensitive keyword matcher behind option names, boolean words and
// RMAP property names.
#ifndef ZARK_COMMON_MATCH_ARG_H
#define ZARK_COMMON_MATCH_ARG_H

// Returns -1 when text does not match keyword; otherwise the offset, counted
// from the first character after leading white space, of the character just
// behind the separator.  The text matches when its part in front of the first
// separator (the NUL character stands for the end of the text) is a prefix of
// keyword, case ignored, and the text after leading white space has at least
// minimum characters.
//   MatchArg("-dev=3", "-device", '=', 2) == 5
//   MatchArg("-h", "-help", '\0', 2) == 3
int MatchArg(const char *text, const char *keyword, char separator, int minimum);

#endif
