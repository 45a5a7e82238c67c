-- @ROWS@ component rows of agent type KA on OS type WIN64, with
-- value lengths like real ones: names 10-40 characters, paths 30-80, descriptions 0-200, a few
-- NULLs, five types of which " dll " differs from "DLL" only by letter case and blanks.
TRUNCATE mst_agent_component, mst_agent_xml_checksum;
INSERT INTO mst_agent_component
       (agent_type, os_type, type, name, filepath, md5_value, state, agent_version,
        binary_version, description, dependencychk, is_reg_required)
SELECT 'KA',
       'WIN64',
       (ARRAY['DLL', 'exe', 'Config', 'sys', ' dll '])[1 + i % 5],
       substr(h || h, 1 + i % 7, 6 + (i * 7) % 31) || '.dll',
       'C:/Program Files/Agent/' || substr(h || h || h, 1 + i % 11, 7 + (i * 11) % 51),
       CASE WHEN i % 101 = 0 THEN NULL ELSE h END,
       CASE WHEN i % 3 = 0 THEN 'I' ELSE 'A' END,
       '3.4.' || (i % 10),
       CASE WHEN i % 89 = 0 THEN NULL ELSE '1.' || (i % 100) || '.' || (i % 7) END,
       CASE WHEN i % 97 = 0 THEN NULL ELSE substr(repeat(h || ' ', 7), 1, (i * 13) % 201) END,
       CASE WHEN i % 4 = 0 THEN NULL WHEN i % 4 = 1 THEN '' ELSE 'core.dll;net.dll' END,
       CASE WHEN i % 53 = 0 THEN NULL ELSE i % 2 = 0 END
  FROM (SELECT i, md5(i::text) AS h FROM generate_series(1, @ROWS@) AS i) AS s;
ANALYZE mst_agent_component;
