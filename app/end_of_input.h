// The way out when the console has no more input to answer a question with.
#ifndef ZARK_APP_END_OF_INPUT_H
#define ZARK_APP_END_OF_INPUT_H

// Says that input has ended and ends the program with status 0, so that no
// question is repeated without end.  after_prompt: the question left the
// cursor behind its text, so the message starts a line of its own.
[[noreturn]] void EndOfInputExit(bool after_prompt);

#endif
