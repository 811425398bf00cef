#pragma once

#include <windows.h>

// Short lists of names that Kalnix keeps in the settings key as REG_MULTI_SZ values (the
// devices that woke the closed laptop, those an administrator chose to keep from waking it,
// those Kalnix kept from it). Bounded: a longer value holds no more than the first names that
// fit, and a longer name is no name of Kalnix's and is skipped. Names compare without case.

constexpr int kSettingListNames = 16;
constexpr int kSettingListNameChars = 128;

struct SettingList {
    int count;
    wchar_t names[kSettingListNames][kSettingListNameChars];
};

// The list stored as `value` (empty when absent). False, with the list empty, when the key is
// null or the value is not a REG_MULTI_SZ that could be read.
bool ReadSettingList(HKEY key, const wchar_t* value, SettingList* list);
// Stores the list; an empty list deletes the value. The registry's status.
LONG WriteSettingList(HKEY key, const wchar_t* value, const SettingList& list);

bool ListHas(const SettingList& list, const wchar_t* name);
// Adds a name that is not there yet; a full list gives up its oldest (first) name. False for
// a name that no list may hold (empty or too long).
bool AddToList(SettingList* list, const wchar_t* name);
void RemoveFromList(SettingList* list, const wchar_t* name);
// A name a list may hold: not empty and short enough.
bool FitsList(const wchar_t* name);
