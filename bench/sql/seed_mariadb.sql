-- The same rows as seed_postgresql.sql, from MariaDB's sequence engine.
TRUNCATE TABLE mst_agent_component;
TRUNCATE TABLE mst_agent_xml_checksum;
INSERT INTO mst_agent_component
       (agent_type, os_type, type, name, filepath, md5_value, state, agent_version,
        binary_version, description, dependencychk, is_reg_required)
SELECT 'KA',
       'WIN64',
       ELT(1 + i % 5, 'DLL', 'exe', 'Config', 'sys', ' dll '),
       CONCAT(SUBSTR(CONCAT(h, h), 1 + i % 7, 6 + (i * 7) % 31), '.dll'),
       CONCAT('C:/Program Files/Agent/', SUBSTR(CONCAT(h, h, h), 1 + i % 11, 7 + (i * 11) % 51)),
       IF(i % 101 = 0, NULL, h),
       IF(i % 3 = 0, 'I', 'A'),
       CONCAT('3.4.', i % 10),
       IF(i % 89 = 0, NULL, CONCAT('1.', i % 100, '.', i % 7)),
       IF(i % 97 = 0, NULL, SUBSTR(REPEAT(CONCAT(h, ' '), 7), 1, (i * 13) % 201)),
       CASE WHEN i % 4 = 0 THEN NULL WHEN i % 4 = 1 THEN '' ELSE 'core.dll;net.dll' END,
       IF(i % 53 = 0, NULL, i % 2 = 0)
  FROM (SELECT seq AS i, MD5(seq) AS h FROM seq_1_to_@ROWS@) AS s;
ANALYZE TABLE mst_agent_component;
