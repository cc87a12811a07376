// Supplementary views (section headers and footers) of TileCollectionView.
#include "Platform/Foundation/Assert.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewReusableView.h"
#include "Views/TileCollectionViewReuse.h"

#include <cstdlib>
#include <unordered_set>

namespace kesto {

namespace {
constexpr const char* kSupplementaryModule = "TileCollectionViewFramework";

// Identifiers are "/"-joined, so a "/" inside a kind or reuse identifier would corrupt them.
bool checkIdentifierPart(const std::string& part) {
  if (part.find('/') == std::string::npos) return true;
  fnd::assertionFailed("supplementary view kinds and reuse identifiers must not contain \"/\"", kSupplementaryModule);
  return false;
}

// The identifier a registration is kept under; none (the breach reported) for a kind or reuse
// identifier that is empty or holds a "/".
std::optional<std::string> registrationIdentifier(const std::string& kind, const std::string& reuseIdentifier) {
  if (kind.empty() || reuseIdentifier.empty()) {
    fnd::parameterAssertionFailed(kind.empty() ? "kind" : "reuseIdentifier", kSupplementaryModule);
    return std::nullopt;
  }
  if (!checkIdentifierPart(kind) || !checkIdentifierPart(reuseIdentifier)) return std::nullopt;
  return TileCollectionView::supplementaryViewIdentifierWithKind(kind, reuseIdentifier);
}
}  // namespace

std::string TileCollectionView::supplementaryViewIdentifierWithKind(const std::string& kind, const std::string& reuse) {
  return kind + "/" + reuse;
}

std::string TileCollectionView::kindForSupplementaryViewIdentifier(const std::string& identifier) {
  return identifier.substr(0, identifier.find('/'));
}

std::string TileCollectionView::reuseIdentifierForSupplementaryViewIdentifier(const std::string& identifier) {
  auto slash = identifier.find('/');
  if (slash == std::string::npos) return {};
  auto rest = identifier.substr(slash + 1);
  return rest.substr(0, rest.find('/'));
}

std::string TileCollectionView::layoutIdentifierForSupplementaryViewIdentifier(const std::string& identifier,
                                                                               std::int64_t section) {
  return std::to_string(section) + "/" + identifier;
}

std::string TileCollectionView::supplementaryViewIdentifierForLayoutIdentifier(const std::string& layoutIdentifier) {
  auto first = layoutIdentifier.find('/');
  if (first == std::string::npos) return "/";
  std::string rest = layoutIdentifier.substr(first + 1);
  return supplementaryViewIdentifierWithKind(kindForSupplementaryViewIdentifier(rest),
                                             reuseIdentifierForSupplementaryViewIdentifier(rest));
}

std::int64_t TileCollectionView::sectionForSupplementaryLayoutIdentifier(const std::string& layoutIdentifier) {
  // A leading integer, 0 for text that is not a number.
  return std::strtoll(layoutIdentifier.c_str(), nullptr, 10);
}

void TileCollectionView::registerClass(SupplementaryViewClass viewClass, const std::string& kind,
                                       const std::string& reuseIdentifier) {
  if (!viewClass) return fnd::parameterAssertionFailed("supplementaryViewClass", kSupplementaryModule);
  if (auto id = registrationIdentifier(kind, reuseIdentifier))
    tile_reuse::registerSource(supplementaryViewClassMap_, supplementaryViewNibMap_, *id, std::move(viewClass));
}

void TileCollectionView::registerNib(std::shared_ptr<const ui::Nib> nib, const std::string& kind,
                                     const std::string& reuseIdentifier) {
  if (!nib) return fnd::parameterAssertionFailed("supplementaryViewNib", kSupplementaryModule);
  if (auto id = registrationIdentifier(kind, reuseIdentifier))
    tile_reuse::registerSource(supplementaryViewNibMap_, supplementaryViewClassMap_, *id, std::move(nib));
}

std::shared_ptr<TileCollectionViewReusableView> TileCollectionView::dequeueReusableSupplementaryViewOfKind(
    const std::string& kind, const std::string& reuseIdentifier) {
  if (reuseIdentifier.empty()) {
    fnd::parameterAssertionFailed("reuseIdentifier", kSupplementaryModule);
    return nullptr;
  }
  if (kind.empty()) {
    fnd::parameterAssertionFailed("kind", kSupplementaryModule);
    return nullptr;
  }
  std::string id = supplementaryViewIdentifierWithKind(kind, reuseIdentifier);
  std::shared_ptr<TileCollectionViewReusableView> view = tile_reuse::dequeue(reusableSupplementaryViews_, id);
  if (!view)
    view = tile_reuse::make<TileCollectionViewReusableView>(*this, id, supplementaryViewNibMap_, supplementaryViewClassMap_);
  if (!view) return nullptr;
  view->setReuseIdentifier(reuseIdentifier);
  view->setKind(kind);
  return view;
}

void TileCollectionView::enqueueReusableSupplementaryView(std::shared_ptr<TileCollectionViewReusableView> view,
                                                          const std::string& kind, const std::string& reuseIdentifier) {
  if (kind.empty() || reuseIdentifier.empty()) return;
  tile_reuse::enqueue(reusableSupplementaryViews_, supplementaryViewIdentifierWithKind(kind, reuseIdentifier),
                      std::move(view));
}

std::vector<std::string> TileCollectionView::allSupplementaryViewIdentifiers() const {
  std::vector<std::string> ids;
  for (auto& [id, cls] : supplementaryViewClassMap_) ids.push_back(id);
  for (auto& [id, nib] : supplementaryViewNibMap_) ids.push_back(id);
  return ids;
}

std::shared_ptr<TileCollectionViewReusableView> TileCollectionView::supplementaryViewForKind(
    const std::string& kind, const std::string& reuseIdentifier, std::int64_t section) const {
  auto it = visibleSupplementaryViewsMap_.find(
      layoutIdentifierForSupplementaryViewIdentifier(supplementaryViewIdentifierWithKind(kind, reuseIdentifier), section));
  return it == visibleSupplementaryViewsMap_.end() ? nullptr : it->second;
}

fnd::Rect TileCollectionView::rectForSupplementaryViewWithKind(const std::string& kind, std::int64_t section) {
  if (!layout_ || section < 0 || section >= numberOfSections()) return fnd::Rect();
  auto a = layout_->layoutAttributesForSupplementaryItemInSection(section, kind);
  return a ? a->frame : fnd::Rect();
}

std::vector<std::string> TileCollectionView::layoutIdentifiersForSupplementaryViewsInRect(const fnd::Rect& rect) {
  std::vector<std::string> result;
  if (rect == fnd::Rect() || !layout_) return result;
  auto ids = allSupplementaryViewIdentifiers();
  for (auto& s : data_.sections()) {
    for (auto& id : ids) {
      auto a = layout_->layoutAttributesForSupplementaryItemInSection(s.index, kindForSupplementaryViewIdentifier(id));
      fnd::Rect f = a ? a->frame : fnd::Rect();
      if (f.intersects(rect)) result.push_back(layoutIdentifierForSupplementaryViewIdentifier(id, s.index));
    }
  }
  return result;
}

void TileCollectionView::applyLayoutAttributesToSupplementaryView(
    const std::optional<TileCollectionViewLayoutAttributes>& a, ui::View& view) {
  view.setFrame(a ? a->frame : fnd::Rect());
  view.setAlphaValue(a ? a->alpha : 0.0);
  view.setZPosition(a ? double(a->zIndex) : 0.0);
}

void TileCollectionView::layoutSupplementaryViewsWithRedraw(bool redraw) {
  if (!flags_.dataSourceViewForSupplementaryView || !flags_.wantsLayout || !dataSource_ || !layout_) return;
  if (redraw || layout_->shouldApplyExistingLayoutAttributesOnLayout()) {
    for (auto& [layoutId, view] : visibleSupplementaryViewsMap_) {
      std::int64_t section = sectionForSupplementaryLayoutIdentifier(layoutId);
      std::string kind = kindForSupplementaryViewIdentifier(supplementaryViewIdentifierForLayoutIdentifier(layoutId));
      applyLayoutAttributesToSupplementaryView(layout_->layoutAttributesForSupplementaryItemInSection(section, kind), *view);
    }
  }
  std::vector<std::string> now = layoutIdentifiersForSupplementaryViewsInRect(documentVisibleRect());
  std::unordered_set<std::string> nowSet(now.begin(), now.end());
  std::vector<std::string> leaving;
  for (auto& [layoutId, view] : visibleSupplementaryViewsMap_)
    if (!nowSet.count(layoutId)) leaving.push_back(layoutId);
  for (auto& layoutId : leaving) {
    auto view = visibleSupplementaryViewsMap_[layoutId];
    visibleSupplementaryViewsMap_.erase(layoutId);
    view->removeFromSuperview();
    enqueueReusableSupplementaryView(view, view->kind(), view->reuseIdentifier());
  }
  auto& doc = documentView();
  for (auto& layoutId : now) {
    if (visibleSupplementaryViewsMap_.count(layoutId)) continue;
    std::int64_t section = sectionForSupplementaryLayoutIdentifier(layoutId);
    std::string kind = kindForSupplementaryViewIdentifier(supplementaryViewIdentifierForLayoutIdentifier(layoutId));
    auto answer = dataSource_->collectionViewViewForSupplementaryViewOfKind(*this, kind, section);
    auto view = std::dynamic_pointer_cast<TileCollectionViewReusableView>(answer);
    if (!view) {
      fnd::assertionFailed(
          "view returned from collectionView:viewForSupplementaryViewOfKind:inSection: should be a subclass of "
          "TileCollectionViewReusableView",
          kSupplementaryModule);
      continue;
    }
    auto a = layout_->layoutAttributesForSupplementaryItemInSection(section, kind);
    view->setFrame(a ? a->frame : fnd::Rect());
    view->setAlphaValue(a ? a->alpha : 0.0);
    if (doc) doc->addSubview(view);
    visibleSupplementaryViewsMap_[layoutId] = view;
  }
}

}  // namespace kesto
