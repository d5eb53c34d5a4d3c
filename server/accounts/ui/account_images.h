#pragma once

#include <QPixmap>

namespace tarvo::server {

/// The five 16 × 16 images the accounts window shares between its tree and its list.
enum class AccountImage {
  kClosedFolder = 0,  ///< a tree node that is not the current filter
  kOpenFolder = 1,    ///< the tree node of the current filter
  kEmptyChair = 2,    ///< a guest account
  kSleeping = 3,      ///< a regular account not in use
  kOnTheMove = 4,     ///< a regular account in use
};

/// Draws one of the images.
QPixmap DrawAccountImage(AccountImage image);

}  // namespace tarvo::server
