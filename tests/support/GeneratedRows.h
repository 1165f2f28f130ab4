#pragma once
#include <vector>

#include "client/posts/PostRow.h"

class PostsModel;

// Listed posts made up for benchmarks and tests: ids, captions and slugs numbered from `first`.
std::vector<PostRow> makeRows(int count, int first);
// Replaces the model's rows by `count` made-up rows.
void fillModel(PostsModel &model, int count);
