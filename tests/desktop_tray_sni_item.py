# For it_desktop_tray_sni.sh: checks the StatusNotifier item the program
# registered (as read by lib/sni_watcher.py): its id, status, icon and Arabic menu.
import json, os, sys
r = json.loads(sys.argv[1])
assert "error" not in r, r
assert r["id"] == "lumicast" and r["status"] == "Active", r
assert r["icon_name"] == "lumicast", r
assert os.path.isfile(os.path.join(r["icon_theme_path"], "lumicast.png")), r
assert r["menu"] == ["فتح لوحة التحكّم", "فتح لوحة الويب", "عن البرنامج", "إظهار الأيقونة", "خروج"], r["menu"]
