-- The two stored procedures of the component list publisher (MariaDB).
-- Load with: mariadb DB < procedures.sql (the DELIMITER lines are the client's: the bodies
-- hold semicolons of their own).
DELIMITER //
CREATE PROCEDURE USP_AgentComponent_Details(
    IN InOSType    VARCHAR(50) CHARACTER SET utf8mb4,
    IN InAgentType VARCHAR(10) CHARACTER SET utf8mb4)
    READS SQL DATA
BEGIN
    SELECT c.type            AS `Type`,
           c.name            AS `Name`,
           c.filepath        AS `filepath`,
           c.md5_value       AS `MD5Value`,
           c.state           AS `State`,
           c.agent_version   AS `AgentVersion`,
           c.binary_version  AS `BinaryVersion`,
           c.description     AS `Description`,
           c.dependencychk   AS `dependencychk`,
           c.is_reg_required AS `IsRegRequired`,
           c.agent_type      AS `AgentType`,
           c.os_type         AS `OS`
      FROM mst_agent_component c
     WHERE c.os_type = InOSType COLLATE utf8mb4_general_ci
       AND c.agent_type = InAgentType COLLATE utf8mb4_general_ci
     ORDER BY c.component_id;
END //
-- Records the checksum of the published document; OutStatus is 1 once the row is committed,
-- whatever the session's autocommit, and 0 when nothing was written. A failure rolls back and
-- raises the error (the caller logs it) rather than returning a silent status.
CREATE PROCEDURE USP_MstAgentXmlCheckSum_IU(
    IN  InAgentType    VARCHAR(50)  CHARACTER SET utf8mb4,
    IN  InOS           VARCHAR(100) CHARACTER SET utf8mb4,
    IN  InMD5String    VARCHAR(100) CHARACTER SET utf8mb4,
    IN  InReleaseDate  DATETIME,
    IN  InDownloadURL  VARCHAR(500) CHARACTER SET utf8mb4,
    IN  InSecondryURL  VARCHAR(500) CHARACTER SET utf8mb4,
    OUT OutStatus      INT)
    MODIFIES SQL DATA
BEGIN
    DECLARE EXIT HANDLER FOR SQLEXCEPTION
    BEGIN
        ROLLBACK;
        RESIGNAL;
    END;
    SET OutStatus = 0;
    START TRANSACTION;
    INSERT INTO mst_agent_xml_checksum
           (agent_type, os, md5_string, release_date, download_url, secondary_url, updated_at)
    VALUES (InAgentType, InOS, InMD5String, InReleaseDate, InDownloadURL, InSecondryURL, NOW())
    ON DUPLICATE KEY UPDATE
           md5_string    = VALUES(md5_string),
           release_date  = VALUES(release_date),
           download_url  = VALUES(download_url),
           secondary_url = VALUES(secondary_url),
           updated_at    = VALUES(updated_at);
    COMMIT;
    SET OutStatus = 1;
END //
DELIMITER ;
