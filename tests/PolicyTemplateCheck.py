#!/usr/bin/env python3
"""The policy template as Group Policy's editor reads it: every string and
presentation it names is in the en-US resources, every box belongs to an
element of its policy, and each policy writes one of the component's installer
settings (names from WordKeys.h) under the policy key of the installer key.
Usage: PolicyTemplateCheck.py ADMX ADML WORDKEYS_H"""
import re
import sys
import xml.etree.ElementTree as ET

ns = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
admx, adml = ET.parse(sys.argv[1]).getroot(), ET.parse(sys.argv[2]).getroot()
keys = dict(re.findall(r'wchar_t (k\w+)\[\] = L"(.*)";', open(sys.argv[3]).read()))
strings = {s.get("id") for s in adml.iterfind(".//p:string", ns)}
presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentation", ns)}
problems = []
for ref in re.findall(r"\$\((string|presentation)\.(\w+)\)", open(sys.argv[1]).read()):
    if ref[1] not in (strings if ref[0] == "string" else presentations):
        problems.append(f"$({ref[0]}.{ref[1]}) is not in the ADML")
# The component's policy key where WordKeys.h names one, else the installer
# key's: HKLM\Software\X\Y's policy key is HKLM\Software\Policies\X\Y.
policy_key = keys.get("kInstallerPolicyKey") or keys["kInstallerKey"].replace("Software\\\\", "Software\\\\Policies\\\\", 1)
policy_key = policy_key.replace("\\\\", "\\")
written = set()
for policy in admx.iterfind(".//p:policy", ns):
    if policy.get("key") != policy_key:
        problems.append(f"{policy.get('name')} writes under {policy.get('key')}")
    elements = {e.get("id"): e.get("valueName") for e in policy.find("p:elements", ns) or []}
    written |= set(elements.values()) | ({policy.get("valueName")} - {None})
    presentation = presentations.get(re.sub(r"\$\(presentation\.(\w+)\)", r"\1", policy.get("presentation") or ""))
    for box in presentation if presentation is not None else []:
        if box.get("refId") not in elements:
            problems.append(f"{policy.get('name')}: box {box.get('refId')} has no element")
expected = {keys["kDownloadServer"], keys["kRequirePins"], keys["kInstallerWaitSeconds"]}
if written != expected:
    problems.append(f"the policies write {sorted(written)}, the component reads {sorted(expected)}")
print("\n".join(problems) or "the policy template is consistent")
sys.exit(1 if problems else 0)
