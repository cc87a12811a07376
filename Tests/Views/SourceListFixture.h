#pragma once

#include "Platform/UI/Window.h"
#include "Views/SourceList.h"
#include "Views/SourceListItem.h"

#include "SourceListItemTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kesto::test {

// A sidebar controller over SourceListItem trees, announcing the methods the test chooses.
class SidebarController : public SourceListItemTree, public SourceListDelegate {
 public:
  unsigned dataSourceMethods = ObjectValueForItem | ItemHasBadge | BadgeValueForItem;
  unsigned delegateMethods = 0;
  std::set<std::string> alwaysExpanded;
  std::vector<std::string> log;
  std::optional<ui::Color> badgeBackground;

  unsigned implementedSourceListDataSourceMethods() const override { return dataSourceMethods; }
  unsigned implementedSourceListDelegateMethods() const override { return delegateMethods; }

  std::optional<ui::Color> sourceListBadgeBackgroundColorForItem(SourceList&, SourceListItemPtr) override {
    return badgeBackground;
  }

  bool sourceListIsGroupAlwaysExpanded(SourceList&, SourceListItemPtr group) override {
    return alwaysExpanded.count(at(group)->title()) > 0;
  }
  bool sourceListMenuForEventItem(SourceList&, const ui::Event& event, SourceListItemPtr item) override {
    log.push_back("menu " + (item ? at(item)->title() : std::string("<none>")));
    return true;
  }
  void sourceListDeleteKeyPressedOnRows(const fnd::Notification& n) override { log.push_back("delete"); }
  void sourceListSelectionIsChanging(const fnd::Notification&) override { log.push_back("changing"); }
  void sourceListSelectionDidChange(const fnd::Notification&) override { log.push_back("did change"); }
  bool sourceListShouldCollapseItem(SourceList&, SourceListItemPtr item) override {
    log.push_back("should collapse " + at(item)->title());
    return true;
  }
  void sourceListItemWillExpand(const fnd::Notification& n) override {
    log.push_back("will expand " + at(sourceListItemOf(n))->title());
  }
  void sourceListItemDidExpand(const fnd::Notification& n) override {
    log.push_back("did expand " + at(sourceListItemOf(n))->title());
  }
};

// LIBRARY (Inbox 7, Work (Projects)), TAGS (red 12, blue), HISTORY ()
struct SourceListFixture : ::testing::Test {
  SidebarController controller;
  SourceListItemRef library, inbox, work, projects, tags, red, blue, history;
  ui::Window window{fnd::Rect(0, 0, 220, 400)};
  std::shared_ptr<SourceList> list;

  void SetUp() override {
    library = SourceListItem::itemWithTitle("LIBRARY", "library");
    inbox = SourceListItem::itemWithTitle("Inbox", "inbox");
    inbox->setBadgeValue(7);
    work = SourceListItem::itemWithTitle("Work", "work");
    projects = SourceListItem::itemWithTitle("Projects", "projects");
    work->addChildItem(projects);
    library->setChildren({inbox, work});
    tags = SourceListItem::itemWithTitle("TAGS", "tags");
    red = SourceListItem::itemWithTitle("red", "red");
    red->setBadgeValue(12);
    blue = SourceListItem::itemWithTitle("blue", "blue");
    tags->setChildren({red, blue});
    history = SourceListItem::itemWithTitle("HISTORY", "history");
    controller.groups = {library, tags, history};
    list = std::make_shared<SourceList>(fnd::Rect(0, 0, 220, 400));
    window.contentView()->addSubview(list);
  }
  void wire(bool allowsEmptySelection = true) {
    list->setAllowsEmptySelection(allowsEmptySelection);
    list->setDelegate(&controller);
    list->setDataSource(&controller);
  }
  std::vector<std::int64_t> selection() const { return list->selectedRowIndexes().indexes(); }
};

}  // namespace kesto::test
