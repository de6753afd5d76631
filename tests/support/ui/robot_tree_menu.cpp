// The robot's reading of tree controls and popup menus, and the search for
// windows of any class.
#include "tests/support/ui/window_robot.h"

#include <cstring>

namespace merro::test {
namespace {

struct WindowSearch {
  const wchar_t* className;
  const wchar_t* caption;
  DWORD pid;
  bool visible;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM lParam) {
  auto* s = reinterpret_cast<WindowSearch*>(lParam);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hWnd, &pid);
  if ((s->pid != 0 && pid != s->pid) || (::IsWindowVisible(hWnd) != FALSE) != s->visible) {
    return TRUE;
  }
  wchar_t text[512] = {};
  if (s->className != nullptr) {
    ::GetClassNameW(hWnd, text, 512);
    if (::lstrcmpW(text, s->className) != 0) {
      return TRUE;
    }
  }
  if (s->caption != nullptr) {
    ::GetWindowTextW(hWnd, text, 512);
    if (::lstrcmpW(text, s->caption) != 0) {
      return TRUE;
    }
  }
  s->found = hWnd;
  return FALSE;
}

void AddTreeItems(HWND tree, HTREEITEM item, int depth, std::vector<WindowRobot::TreeItem>* pItems) {
  for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
    wchar_t text[512] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = 512;
    if (!TreeView_GetItem(tree, &tv)) {
      continue;
    }
    pItems->push_back(WindowRobot::TreeItem{item, depth, text, tv.iImage, tv.lParam});
    AddTreeItems(tree, TreeView_GetChild(tree, item), depth + 1, pItems);
  }
}

}  // namespace

HWND WindowRobot::WaitForWindow(const wchar_t* className, const wchar_t* caption, DWORD pid,
                                bool visible, DWORD timeoutMs) {
  WindowSearch search{className, caption, pid, visible, nullptr};
  WaitFor(
      [&] {
        ::EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      std::string("a ") + (visible ? "visible" : "hidden") + " window \"" +
          Utf8(caption != nullptr ? caption : L"") + "\" of class \"" +
          Utf8(className != nullptr ? className : L"") + "\"",
      [&] { return DescribeWindowsOf(pid); }, timeoutMs);
  return search.found;
}

std::vector<WindowRobot::TreeItem> WindowRobot::TreeItems(HWND dialog, int controlId) {
  std::vector<TreeItem> items;
  HWND tree = Control(dialog, controlId);
  if (tree != nullptr) {
    AddTreeItems(tree, TreeView_GetRoot(tree), 0, &items);
  }
  return items;
}

bool WindowRobot::ClickTreeItem(HWND dialog, int controlId, HTREEITEM item, bool doubleClick) {
  HWND tree = Control(dialog, controlId);
  if (tree == nullptr) {
    return false;
  }
  RECT r{};
  // TVM_GETITEMRECT takes the item in the rectangle it fills.
  std::memcpy(&r, &item, sizeof item);
  if (!::SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) {
    Fail("the tree item is not visible");
    return false;
  }
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ::ClientToScreen(tree, &p);
  return ClickAt(dialog, p, doubleClick ? 2 : 1);
}

HWND WindowRobot::WaitForMenu(DWORD timeoutMs) {
  return WaitForWindow(L"#32768", nullptr, 0, true, timeoutMs);
}

std::vector<WindowRobot::MenuItem> WindowRobot::MenuItems(HWND menuWindow) {
  std::vector<MenuItem> items;
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                             &result) ||
      result == 0) {
    Fail("MN_GETHMENU gave no menu");
    return items;
  }
  HMENU menu = reinterpret_cast<HMENU>(result);
  const UINT defaultId = ::GetMenuDefaultItem(menu, FALSE, 0);
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 256;
    if (!::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) {
      Fail("GetMenuItemInfoW of item " + std::to_string(i) + " failed");
      continue;
    }
    MenuItem item;
    item.id = info.wID;
    item.separator = (info.fType & MFT_SEPARATOR) != 0;
    item.text = item.separator ? std::wstring() : std::wstring(text);
    item.isDefault = !item.separator && info.wID == defaultId;
    items.push_back(item);
  }
  return items;
}

bool WindowRobot::CloseMenu(HWND menuWindow) {
  return Check(::PostMessageW(menuWindow, WM_CANCELMODE, 0, 0) != FALSE, "posting WM_CANCELMODE");
}

bool WindowRobot::PostCommand(HWND window, WORD id) {
  return Check(::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) != FALSE,
               "posting WM_COMMAND " + std::to_string(id));
}

}  // namespace merro::test
