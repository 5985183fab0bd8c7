// The application framework classes the library and its hosts share.
#pragma once

#include <velmora/afx/string.h>
#include <velmora/afx/collections.h>
#include <velmora/afx/object.h>
#include <velmora/afx/exception.h>
#include <velmora/afx/ole.h>
#include <velmora/afx/ole_variant.h>
#include <velmora/afx/ole_datetime.h>
#include <velmora/afx/module.h>
#include <velmora/afx/file.h>
#include <velmora/afx/resources.h>
#include <velmora/afx/class_id.h>
