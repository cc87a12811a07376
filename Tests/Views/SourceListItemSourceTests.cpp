// The answers every item-built sidebar list shares, without a controller around them.
#include "Views/SourceList.h"
#include "Views/SourceListItemSource.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class Items : public SourceListItemSource {
 public:
  std::vector<SourceListItemRef> top;

 protected:
  const std::vector<SourceListItemRef>& topLevelSourceListItems() const override { return top; }
};

TEST(SourceListItemSource, AnswersFromTheItemsAndKeepsSeparatorsUnselectable) {
  SourceList list;
  Items items;
  auto group = SourceListItem::itemWithTitle("Library", "library");
  auto child = SourceListItem::itemWithTitle("Inbox", "_inbox");
  child->setBadgeValue(0);  // a zero badge is still a badge
  group->addChildItem(child);
  auto separator = SourceListItem::itemWithTitle("", SourceListItemSource::kSeparatorID);
  items.top = {group, separator};

  EXPECT_EQ(items.sourceListNumberOfChildrenOfItem(list, nullptr), 2u);
  EXPECT_EQ(items.sourceListChildOfItem(list, 0, nullptr), group.get());
  EXPECT_EQ(items.sourceListChildOfItem(list, 2, nullptr), nullptr);  // past the end
  EXPECT_EQ(items.sourceListNumberOfChildrenOfItem(list, group.get()), 1u);
  EXPECT_EQ(items.sourceListChildOfItem(list, 0, group.get()), child.get());
  EXPECT_TRUE(items.sourceListIsItemExpandable(list, group.get()));
  EXPECT_FALSE(items.sourceListIsItemExpandable(list, child.get()));
  EXPECT_EQ(items.sourceListObjectValueForItem(list, child.get()).string(), "Inbox");

  EXPECT_TRUE(items.sourceListItemHasBadge(list, child.get()));
  EXPECT_EQ(items.sourceListBadgeValueForItem(list, child.get()), 0);
  EXPECT_FALSE(items.sourceListItemHasBadge(list, group.get()));
  EXPECT_FALSE(items.sourceListItemHasIcon(list, child.get()));
  EXPECT_TRUE(items.sourceListIconForItem(list, child.get()).isNull());

  EXPECT_TRUE(items.sourceListShouldSelectItem(list, child.get()));
  EXPECT_FALSE(items.sourceListShouldSelectItem(list, separator.get()));

  // An object that is none of ours gets the empty answers, not a crash.
  fnd::Object stranger;
  EXPECT_EQ(items.sourceListNumberOfChildrenOfItem(list, &stranger), 0u);
  EXPECT_EQ(items.sourceListChildOfItem(list, 0, &stranger), nullptr);
  EXPECT_FALSE(items.sourceListItemHasBadge(list, &stranger));
  EXPECT_EQ(items.sourceListBadgeValueForItem(list, &stranger), 0);
  EXPECT_TRUE(items.sourceListObjectValueForItem(list, &stranger).isNull());
  EXPECT_TRUE(items.sourceListShouldSelectItem(list, &stranger));
}

TEST(SourceListItemSource, AnnouncesItsAnswersAndRenamesRowsInPlace) {
  SourceList list;
  Items items;
  auto row = SourceListItem::itemWithTitle("Old", "row");
  items.top = {row};
  using DS = SourceListDataSource;
  using D = SourceListDelegate;
  const unsigned announced = items.implementedSourceListDataSourceMethods();
  for (unsigned bit : {DS::ObjectValueForItem, DS::SetObjectValueForItem, DS::ItemHasBadge, DS::BadgeValueForItem,
                       DS::ItemHasIcon, DS::IconForItem})
    EXPECT_TRUE(announced & bit) << bit;
  EXPECT_FALSE(announced & DS::AcceptDrop);  // a list that takes drops says so itself
  EXPECT_EQ(items.implementedSourceListDelegateMethods(), unsigned(D::ShouldSelectItem));

  items.sourceListSetObjectValueForItem(list, fnd::Value("New"), row.get());
  EXPECT_EQ(row->title(), "New");
  // A value that is no text, or an object that is none of ours, changes nothing.
  items.sourceListSetObjectValueForItem(list, fnd::Value(std::int64_t(3)), row.get());
  EXPECT_EQ(row->title(), "New");
  fnd::Object stranger;
  items.sourceListSetObjectValueForItem(list, fnd::Value("Other"), &stranger);
  items.sourceListSetObjectValueForItem(list, fnd::Value("Other"), nullptr);
  EXPECT_EQ(row->title(), "New");
}

}  // namespace
}  // namespace kesto::test
