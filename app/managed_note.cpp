#include "app/managed_note.h"

#include "res/resource.h"

HWND ShowManagedSettingsNote(HWND dialog, int x, int y, int width, int height, const wchar_t* text) {
    // Dialog units become pixels through the dialog's own font, as the template's controls do.
    RECT place = {x, y, x + width, y + height};
    MapDialogRect(dialog, &place);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    HWND note = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                place.left, place.top, place.right - place.left, place.bottom - place.top, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MANAGED_NOTE)), instance, nullptr);
    if (note) SendMessageW(note, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    return note;
}
