// How many of the layer's threads serve an offered text right now.
#pragma once

namespace quillfen::test {

int serving_threads();

} // namespace quillfen::test
