#include "restore/ui/restore_pages.h"

#include <QWidget>

#include "restore/ui/easy_restore_page.h"

namespace halvex {
namespace {

// Stands in for a page that this build does not have yet: an empty area under its tab.
class EmptyPage : public QWidget, public RestorePage {
public:
    explicit EmptyPage(QWidget* parent) : QWidget(parent) {}
    QWidget* Widget() override { return this; }
};

}  // namespace

RestorePage* CreateEasyRestorePage(const RestorePageContext& context, QWidget* parent) {
    return new EasyRestorePage(context, parent);
}

RestorePage* CreateFileBrowserPage(const RestorePageContext&, QWidget* parent) { return new EmptyPage(parent); }

RestorePage* CreateSearchLogPage(const RestorePageContext&, QWidget* parent) { return new EmptyPage(parent); }

}  // namespace halvex
