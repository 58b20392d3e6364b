# The Information and Book Type pages.
target_sources(dravix_pages PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BookType.cpp
)
