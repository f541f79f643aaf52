# The form-definition code shared by the build-step tool kxforms and the
# form runtime. Relative to this folder.
set(KESTRIX_FORM_SOURCES form_definition.cpp form_text.cpp)
