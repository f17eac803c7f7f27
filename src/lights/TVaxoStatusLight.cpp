#include "lights/TVaxoStatusLight.h"

namespace pellwick {

TVaxoStatusLight::TVaxoStatusLight(QWidget* parent) : TVaxoCustomStatusLight(parent) {}

} // namespace pellwick
