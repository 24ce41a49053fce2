#pragma once
// Song texts as cells of the tab-separated tables kivet-session prints
// (query, info). A text is shown whole but for what would break the table or
// act on the terminal instead of being shown: each control character becomes
// one space, so that each song stays one line of its columns and no escape
// sequence reaches the terminal. Control characters are C0 (the bytes below
// 0x20: a tab, a line break, an escape, ...), DEL (0x7F) and C1 (U+0080 to
// U+009F, in UTF-8 the bytes C2 80 to C2 9F), which some terminals act on as
// the escapes they stand for (U+009B begins a control sequence).
//
// Texts are UTF-8 as the library keeps them, though a metadata file may hold
// Latin-1 bytes that the library took as they came (it keeps a text that
// holds a well-formed UTF-8 sequence as it is, stray bytes and all). A byte
// from 0x80 to 0x9F that is no part of a well-formed UTF-8 sequence is a C1
// control in Latin-1 and becomes a space too. Every other well-formed
// sequence stays as it is, and so does every other byte, which a terminal
// shows as best it can: a C1 byte inside a well-formed sequence (E2 82 9B is
// U+209B) is that sequence's, never taken out of it.

#include <string>

std::string tableCell(const std::string& text);
