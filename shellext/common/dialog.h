// Modal dialog base with a message map, in place of the framework's dialog classes.
//
//   class CFooDlg : public dv::DialogImpl<CFooDlg> {
//   public:
//       enum { IDD = 123 };
//       DV_BEGIN_MSG_MAP(CFooDlg)
//           DV_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//           DV_COMMAND_ID_HANDLER(IDOK, OnOK)
//           DV_NOTIFY_HANDLER(IDC_TREE, TVN_SELCHANGEDW, OnSelChanged)
//       DV_END_MSG_MAP()
//   };
//
// Handlers have the usual signatures and set `handled` to FALSE to fall through:
//   LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
//   LRESULT OnCommand(WORD notifyCode, WORD id, HWND control, BOOL& handled);
//   LRESULT OnNotify(int idCtrl, LPNMHDR header, BOOL& handled);
#pragma once
#include "com.h"
#include <windows.h>

namespace dv {

template <class T>
class DialogImpl {
public:
    HWND window_ = nullptr;

    INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM initParam = 0) {
        initParam_ = initParam;
        return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(T::IDD), parent, &DialogImpl::StaticProc,
                                 reinterpret_cast<LPARAM>(this));
    }
    BOOL EndDialog(INT_PTR result) { return ::EndDialog(window_, result); }

    HWND GetDlgItem(int id) const { return ::GetDlgItem(window_, id); }
    LRESULT SendDlgItemMessage(int id, UINT msg, WPARAM w = 0, LPARAM l = 0) const {
        return ::SendDlgItemMessageW(window_, id, msg, w, l);
    }
    LPARAM InitParam() const { return initParam_; }

protected:
    ~DialogImpl() = default;

private:
    static INT_PTR CALLBACK StaticProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
        DialogImpl* self;
        if (msg == WM_INITDIALOG) {
            self = reinterpret_cast<DialogImpl*>(lParam);
            self->window_ = window;
            ::SetWindowLongPtrW(window, DWLP_USER, lParam);
            lParam = self->initParam_;
        } else {
            self = reinterpret_cast<DialogImpl*>(::GetWindowLongPtrW(window, DWLP_USER));
        }
        if (!self) return FALSE;
        LRESULT result = 0;
        BOOL handled = static_cast<T*>(self)->ProcessWindowMessage(window, msg, wParam, lParam, result);
        if (msg == WM_NCDESTROY) {
            ::SetWindowLongPtrW(window, DWLP_USER, 0);
            self->window_ = nullptr;
        }
        if (!handled) return FALSE;
        switch (msg) {
        // These return their result directly rather than through DWLP_MSGRESULT.
        case WM_INITDIALOG: case WM_CHARTOITEM: case WM_VKEYTOITEM: case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
            return static_cast<INT_PTR>(result);
        default:
            ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }

    LPARAM initParam_ = 0;
};

} // namespace dv

#define DV_BEGIN_MSG_MAP(cls)                                                                          \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) { \
        BOOL bHandled = TRUE;                                                                          \
        (void)hWnd;                                                                                    \
        (void)bHandled;

#define DV_MESSAGE_HANDLER(msg, func)                         \
    if (uMsg == (msg)) {                                      \
        bHandled = TRUE;                                      \
        lResult = func(uMsg, wParam, lParam, bHandled);       \
        if (bHandled) return TRUE;                            \
    }

#define DV_MESSAGE_RANGE_HANDLER(first, last, func)           \
    if (uMsg >= (first) && uMsg <= (last)) {                  \
        bHandled = TRUE;                                      \
        lResult = func(uMsg, wParam, lParam, bHandled);       \
        if (bHandled) return TRUE;                            \
    }

#define DV_COMMAND_ID_HANDLER(id, func)                                                               \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                               \
        bHandled = TRUE;                                                                              \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);     \
        if (bHandled) return TRUE;                                                                    \
    }

#define DV_COMMAND_HANDLER(id, code, func)                                                            \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {                   \
        bHandled = TRUE;                                                                              \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);     \
        if (bHandled) return TRUE;                                                                    \
    }

#define DV_COMMAND_RANGE_HANDLER(first, last, func)                                                   \
    if (uMsg == WM_COMMAND && LOWORD(wParam) >= (first) && LOWORD(wParam) <= (last)) {                \
        bHandled = TRUE;                                                                              \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);     \
        if (bHandled) return TRUE;                                                                    \
    }

#define DV_NOTIFY_HANDLER(id, cd, func)                                                               \
    if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom == static_cast<UINT_PTR>(id) && \
        reinterpret_cast<LPNMHDR>(lParam)->code == static_cast<UINT>(cd)) {                           \
        bHandled = TRUE;                                                                              \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);        \
        if (bHandled) return TRUE;                                                                    \
    }

#define DV_NOTIFY_CODE_HANDLER(cd, func)                                                              \
    if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->code == static_cast<UINT>(cd)) {      \
        bHandled = TRUE;                                                                              \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);        \
        if (bHandled) return TRUE;                                                                    \
    }

#define DV_END_MSG_MAP() \
    return FALSE;        \
    }
