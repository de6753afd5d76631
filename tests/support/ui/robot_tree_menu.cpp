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

// Reads one item's text, image and data. The item travels through the
// memory of the tree's process: the caller's own, or a block the reader
// makes in the other process (TVM_GETITEMW carries a pointer, which the
// system does not carry across processes).
class TreeItemReader {
 public:
  explicit TreeItemReader(HWND tree) : m_tree(tree) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(tree, &pid);
    if (pid != ::GetCurrentProcessId()) {
      m_process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
      if (m_process != nullptr) {
        m_remote = static_cast<Block*>(
            ::VirtualAllocEx(m_process, nullptr, sizeof(Block), MEM_COMMIT, PAGE_READWRITE));
      }
    }
  }
  ~TreeItemReader() {
    if (m_remote != nullptr) {
      ::VirtualFreeEx(m_process, m_remote, 0, MEM_RELEASE);
    }
    if (m_process != nullptr) {
      ::CloseHandle(m_process);
    }
  }
  TreeItemReader(const TreeItemReader&) = delete;
  TreeItemReader& operator=(const TreeItemReader&) = delete;

  bool Read(HTREEITEM item, WindowRobot::TreeItem* pItem) {
    Block local{};
    Block* block = m_process == nullptr ? &local : m_remote;
    if (block == nullptr) {
      return false;
    }
    local.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_HANDLE;
    local.item.hItem = item;
    local.item.pszText = block->text;
    local.item.cchTextMax = kTextChars;
    if (block == m_remote &&
        !::WriteProcessMemory(m_process, m_remote, &local, sizeof local.item, nullptr)) {
      return false;
    }
    DWORD_PTR ok = 0;
    if (!::SendMessageTimeoutW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&block->item),
                               SMTO_ABORTIFHUNG, 5000, &ok) ||
        ok == 0) {
      return false;
    }
    if (block == m_remote && !::ReadProcessMemory(m_process, m_remote, &local, sizeof local, nullptr)) {
      return false;
    }
    local.text[kTextChars - 1] = L'\0';
    pItem->handle = item;
    pItem->text = local.text;
    pItem->image = local.item.iImage;
    pItem->data = local.item.lParam;
    return true;
  }

 private:
  static constexpr int kTextChars = 512;
  struct Block {
    TVITEMW item;
    wchar_t text[kTextChars];
  };
  HWND m_tree;
  HANDLE m_process = nullptr;
  Block* m_remote = nullptr;
};

void AddTreeItems(HWND tree, TreeItemReader& reader, HTREEITEM item, int depth,
                  std::vector<WindowRobot::TreeItem>* pItems) {
  for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
    WindowRobot::TreeItem read;
    if (!reader.Read(item, &read)) {
      continue;
    }
    read.depth = depth;
    pItems->push_back(read);
    AddTreeItems(tree, reader, TreeView_GetChild(tree, item), depth + 1, pItems);
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
    TreeItemReader reader(tree);
    AddTreeItems(tree, reader, TreeView_GetRoot(tree), 0, &items);
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
