#include "app/list_columns.h"

#include <commctrl.h>

void AddListColumn(HWND list, int index, const wchar_t* title, int widthInDialogUnits) {
    RECT width = {0, 0, widthInDialogUnits, 0};
    MapDialogRect(GetParent(list), &width);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = width.right;
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}
