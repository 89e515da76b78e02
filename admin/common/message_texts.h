#pragma once
// The built-in message texts (Shift_JIS).

extern const char kQtrm001SystemError[];      // detail code (%d)
extern const char kQtrm003NoMemory[];
extern const char kQtrm008BadCatalogue[];
extern const char kQtrm107CatalogueMissing[];  // catalogue path (%s)
extern const char kQtrm109BadRegistryValue[];  // root, key path, value name (%s)

// Texts of the message page.
extern const char kPageTitleLine[];
extern const char kPageHeadingLine[];
extern const char kPageBackButtonLine[];
