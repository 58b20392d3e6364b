# The firmware switch pages: OverSpeed with the setting-scope dialog, Test Write, WOPC, Lumard.
target_sources(dravix_pages PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SwitchPage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingScopeDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OverSpeed.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TestWrite.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Wopc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Lumard.cpp
)
