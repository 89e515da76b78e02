#pragma once
// Finding an entry in the text of the message catalogue.
#include "admin/common/catalogue.h"
#include "port/text_reader.h"

// Reads the catalogue from reader up to the entry of key and collects its
// text into text (kMsgTextSize bytes): its lines that are neither empty nor
// comments, joined by a line feed, up to the next line that begins
// "LXC_MSG_" or the end of the file. The text stays empty when the key is
// missing. Returns false when a line or the text does not fit, which is never
// cut into a shorter text or another entry.
bool read_catalogue_entry(port::TextReader& reader, const char* key, char* text);
